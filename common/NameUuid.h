// Name-based UUIDs (RFC 4122 version 5: the SHA-1 of a namespace UUID and a name), written as
// text straight into a string that is used again: every contact of an export gets one, and
// QUuid::createUuidV5 took a hash object, a byte array and a string of its own per contact,
// and a large unrolled hash function that pushed the rest of the export out of the processor's
// instruction cache.
#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>

namespace lumivex {

// A namespace UUID as its 16 bytes in network order (QUuid::toRfc4122).
using UuidBytes = std::array<uint8_t, 16>;

// The UUID made from `name` under `space`, lower-case and without braces
// ("74cfb874-ebba-5045-b33e-81121c1316ed"), as QUuid::createUuidV5(space, name).toString(
// QUuid::WithoutBraces) gives it; written over `out`, whose room is kept.
void NameUuidInto(QString& out, const UuidBytes& space, QByteArrayView name);

}  // namespace lumivex
