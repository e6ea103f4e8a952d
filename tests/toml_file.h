// A description written to a file of its own in a fresh temporary folder,
// removed with the folder at the end; and the model built from one.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "design/description.h"
#include "design/model.h"

namespace tests {

struct TomlFile {
    std::string path;
    explicit TomlFile(const std::string& text, const std::string& name = "model") {
        std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/vdesign_XXXXXX";
        if (mkdtemp(dir.data()) == nullptr) return;
        path = dir + "/" + name + ".toml";
        std::ofstream(path) << text;
    }
    TomlFile(const TomlFile&) = delete;
    TomlFile& operator=(const TomlFile&) = delete;
    ~TomlFile() {
        std::error_code ec;
        if (!path.empty()) std::filesystem::remove_all(std::filesystem::path(path).parent_path(), ec);
    }
};

inline design::Model model_of(const std::string& text) {
    TomlFile f(text);
    return design::build_model(design::read_description(f.path));
}

}  // namespace tests
