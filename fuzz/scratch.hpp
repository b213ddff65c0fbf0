// A private directory for a fuzz target's files, and a way to report a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

[[noreturn]] inline void fuzz_fail(const char *what) {
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

class Scratch {
  public:
    static const Scratch &get() {
        static const Scratch scratch;
        return scratch;
    }
    std::string path(const std::string &name) const { return (dir_ / name).string(); }
    std::string write(const std::string &name, const void *data, std::size_t size) const {
        const std::string p = path(name);
        std::FILE *f = std::fopen(p.c_str(), "wb");
        if (!f) fuzz_fail("cannot write the scratch file");
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        return p;
    }
    bool exists(const std::string &p) const {
        std::error_code ignored;
        return std::filesystem::exists(p, ignored);
    }

  private:
    Scratch()
        : dir_(std::filesystem::temp_directory_path() /
               ("kelvane-fuzz-" + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directories(dir_);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
};
