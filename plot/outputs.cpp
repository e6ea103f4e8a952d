#include "plot/outputs.h"

#include <sys/stat.h>

namespace plot {

Output::Output(std::string path) : path_(std::move(path)) {
    struct stat st {};
    stream_ = textio::descriptor_named(path_) >= 0 ||
              (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
}

std::string Output::create() { return file_.open(path_); }

std::string Output::write(std::string_view bytes) { return file_.write(bytes); }

std::string Output::close_temp() { return file_.close_temporary(); }

bool Output::empty_file() const {
    struct stat st {};
    return stat(file_.temporary().c_str(), &st) != 0 || st.st_size == 0;
}

std::string Output::commit() { return file_.commit(); }

}  // namespace plot
