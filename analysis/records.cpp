#include "analysis/records.h"

#include <cstddef>

#include "input/matrix.h"
#include "textio/io.h"

using textio::write_fmt;

namespace {

constexpr const char* kValueList = "(5(2X,E12.6))";

}  // namespace

void list_modes(const double* OMEGA, const double* PHI, int32_t LK) {
    write_fmt(kResultsUnit, "(2X,'CZESTOSCI DRGAN WLASNYCH')");
    write_vector(kResultsUnit, kValueList, OMEGA, LK);
    for (int32_t i = 1; i <= LK; ++i) {
        write_fmt(kResultsUnit, "(2X,'WEKTOR WLASNY - UNORMOWANY I=',I2)", {i});
        textio::Out row[20];
        for (int32_t j = 1; j <= LK; ++j)
            row[j - 1] = PHI[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(LK) +
                             static_cast<std::size_t>(i - 1)];
        write_fmt(kResultsUnit, kValueList, row, static_cast<std::size_t>(LK));
    }
}

void list_damping(const double* CR, int32_t LK) {
    // The heading's letter L with stroke is the single byte 0xA3.
    write_fmt(kResultsUnit, "(2X,'MACIERZ T\xA3UMIENIA PROPORCJONALNEGO KONSTRUKCJI')");
    MATOUT(CR, LK, LK);
}
