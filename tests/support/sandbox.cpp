#include "support/sandbox.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/platform.hpp"

namespace mapd_test {

sandbox::sandbox() {
    char tmpl[] = "/tmp/mapd-test-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        std::abort();
    }
    root = tmpl;
    make_dirs(root + "/tmp");  // every AP image has its /tmp
    if (map_platform_set_root(root.c_str()) != 0) {
        std::abort();
    }
}

sandbox::~sandbox() {
    map_platform_set_root(nullptr);
    map_platform_fail_clear();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

std::string sandbox::path(const std::string& ap_path) const { return root + ap_path; }

void sandbox::write(const std::string& ap_path, const std::string& content, int mode) const {
    std::string p = path(ap_path);
    make_dirs(std::filesystem::path(p).parent_path().string());
    {
        std::ofstream f(p, std::ios::binary | std::ios::trunc);
        f << content;
    }
    chmod(p.c_str(), static_cast<mode_t>(mode));
}

std::string sandbox::read(const std::string& ap_path) const { return read_file(path(ap_path)); }

bool sandbox::exists(const std::string& ap_path) const {
    return std::filesystem::exists(path(ap_path));
}

void sandbox::tool(const std::string& ap_path, const std::string& script_body) const {
    write(ap_path, "#!/bin/sh\n" + script_body + "\n", 0755);
}

std::string read_file(const std::string& host_path) {
    std::ifstream f(host_path, std::ios::binary);
    if (!f) {
        return "<missing>";
    }
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void make_dirs(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
}

}  // namespace mapd_test
