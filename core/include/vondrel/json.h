// Compact JSON text: the double layout shared by the writer and the reader's messages, and
// reading / writing every wire record as JSON text.
#pragma once

#include <string>
#include <string_view>

#include "vondrel/error.h"

namespace vondrel {

// Appends `v` in the writer's layout: the shortest digits that read back to the same double,
// plain notation with ".0" for integral values when the decimal exponent lies in -5..15
// ("1.0", "0.00001", "1000000000000000.0"), else exponent notation with an explicit sign
// ("1e+16", "1.5e-7", "5e-324"); NaN and the infinities as "null".
void append_double(std::string& out, double v);
std::string format_double(double v);

// Parses the whole of `text` as one record of type T (nothing but whitespace may follow).
// A failure is Error::deserialize(message + " at line L column C"); `out` is then unspecified.
// Instantiated for NetlistPort, PortRef, PortArrayRef, NetlistArray, Net,
// NetlistInstanceWire, NetlistWire, BBox, Placement, PlacedInstanceWire, PlacedNetlistWire,
// NetlistInstance (its instance record; the name is left as it was) and Netlist (the
// NetlistWire record read in place; the instances' names are left empty, the keys hold them).
template <class T>
Status read_json(std::string_view text, T& out);

// Appends the compact JSON text of `value` to `out`. Fails with Error::serialize (`out` then
// unspecified) only when the text would nest deeper than kMaxNesting levels, which the reader
// refuses. Instantiated for the same types, for Netlist (its NetlistWire record, without
// building one), and for PlacedInstanceView and PlacedNetlistView (the placed records,
// without building them).
template <class T>
[[nodiscard]] Status write_json(std::string& out, const T& value);

}  // namespace vondrel
