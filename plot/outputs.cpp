#include "plot/outputs.h"

#include <sys/stat.h>

#include "plot/interrupt.h"

namespace plot {

Output::Output(std::string path) : path_(std::move(path)) {
    struct stat st {};
    stream_ = textio::descriptor_named(path_) >= 0 ||
              (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode));
}

std::string Output::create() { return file_.open(path_); }

std::string Output::write(std::string_view bytes) { return file_.write(bytes); }

// A FIFO's wait for its reader ends on an interrupt, whenever it came.
std::string Output::commit() { return file_.commit(interrupt_fd()); }

}  // namespace plot
