#include "textio/lines.h"

namespace textio {

LineCut cut_line(std::string_view bytes, bool at_end, bool cr_waits) {
    const std::size_t end = bytes.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        if (!at_end) return {LineCut::more, bytes.size(), 0};
        if (bytes.empty()) return {LineCut::none, 0, 0};
        return {LineCut::line, bytes.size(), bytes.size()};
    }
    if (bytes[end] == '\r' && end + 1 == bytes.size() && cr_waits && !at_end) return {LineCut::more, end, 0};
    std::size_t next = end + 1;
    if (bytes[end] == '\r' && next < bytes.size() && bytes[next] == '\n') ++next;
    return {LineCut::line, end, next};
}

}  // namespace textio
