// Test support: a throw-away sandbox root and small file helpers.
#pragma once

#include <string>
#include <vector>

namespace mapd_test {

// Reads a whole host file; "<missing>" when it cannot be opened.
std::string read_file(const std::string& host_path);
// Creates every folder of `dir`.
void make_dirs(const std::string& dir);

// A fresh directory under /tmp that becomes the platform door's sandbox root
// for the life of the object, and is removed afterwards.
struct sandbox {
    std::string root;

    sandbox();
    ~sandbox();
    sandbox(const sandbox&) = delete;
    sandbox& operator=(const sandbox&) = delete;

    // The host path of an AP path ("/etc/board" -> "<root>/etc/board").
    std::string path(const std::string& ap_path) const { return root + ap_path; }
    // Writes a file (creating its folders) at an AP path.
    void write(const std::string& ap_path, const std::string& content, int mode = 0644) const;
    // A file's content, or "<missing>".
    std::string read(const std::string& ap_path) const { return read_file(path(ap_path)); }
    bool exists(const std::string& ap_path) const;
    // Installs an executable shell script as a tool of the root.
    void tool(const std::string& ap_path, const std::string& script_body) const {
        write(ap_path, "#!/bin/sh\n" + script_body + "\n", 0755);
    }
};

}  // namespace mapd_test
