#include "design/outputs.h"

#include "design/description.h"
#include "design/interrupt.h"
#include "textio/whole_file.h"

namespace design {

void refuse_clashes(const std::vector<FileRole>& files) {
    std::vector<textio::NamedFile> named;
    for (const FileRole& f : files) named.push_back({f.role, f.path, f.output});
    if (const std::string e = textio::clash(named); !e.empty()) throw Refused(e);
}

OutputSet::~OutputSet() = default;

void OutputSet::prepare(const std::string& path, const std::string& bytes) {
    stop_if_interrupted();
    if (path.empty()) throw Refused("an output needs a name");
    auto file = std::make_unique<textio::Replacement>();
    if (const std::string e = file->prepare(path, bytes); !e.empty()) throw Refused(e);
    pending_.push_back(std::move(file));
    stop_if_interrupted();
}

void OutputSet::commit() {
    // The streams and devices first: a FIFO may wait for its reader, and
    // an interrupt then leaves every file as it was.
    for (const bool in_place : {true, false})
        for (auto& file : pending_) {
            if (file->in_place() != in_place) continue;
            stop_if_interrupted();
            const std::string e = file->commit(interrupt_fd());
            stop_if_interrupted();
            if (!e.empty()) throw Refused(e);
        }
}

void write_output(const std::string& path, const std::string& bytes) {
    OutputSet out;
    out.prepare(path, bytes);
    out.commit();
}

}  // namespace design
