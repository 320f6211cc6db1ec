// See listing_order.h.
#include "lib/patterns/listing_order.h"

#include "lib/text/ascii.h"

namespace {

unsigned char folded(char c) {
    return static_cast<unsigned char>(ascii_upper(c));
}

}  // namespace

bool listed_before(std::string_view a, std::string_view b) {
    std::size_t common = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < common; ++i) {
        if (folded(a[i]) != folded(b[i])) {
            return folded(a[i]) < folded(b[i]);
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;  // std::string_view compares as unsigned char
}
