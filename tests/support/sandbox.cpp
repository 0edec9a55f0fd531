#include "support/sandbox.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.hpp"

namespace mapd_test {

sandbox::sandbox() {
    char tmpl[] = "/tmp/mapd-test-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        std::abort();
    root = tmpl;
    make_dirs(root + "/tmp");  // every AP image has its /tmp
    if (map_platform_set_root(root.c_str()) != 0)
        std::abort();
}

sandbox::~sandbox() {
    map_platform_set_root(nullptr);
    map_platform_fail_clear();
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

void sandbox::write(const std::string& ap_path, const std::string& content, int mode) const {
    const std::string p = path(ap_path);
    make_dirs(std::filesystem::path(p).parent_path().string());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
    chmod(p.c_str(), static_cast<mode_t>(mode));
}

bool sandbox::exists(const std::string& ap_path) const {
    return std::filesystem::exists(path(ap_path));
}

std::string read_file(const std::string& host_path) {
    std::ifstream f(host_path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return f ? s.str() : "<missing>";
}

void make_dirs(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
}

}  // namespace mapd_test
