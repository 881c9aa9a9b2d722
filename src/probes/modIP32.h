#pragma once

#include <QString>

// Device addresses: the dotted-address test.
namespace modIP32 {

// True when the text has the shape of a dotted address: three numeric parts,
// each ended by a "." found from the second character on, then a numeric
// rest. No range check and no count of further dots: 999.1.1.1 and 1.2.3.4.5
// both pass (the rest of the latter reads as the number 4.5).
bool Is_IPAddress(const QString &text);

} // namespace modIP32
