#include "common/NameUuid.h"

#include <gtest/gtest.h>

using namespace lumivex;

// Expected values from Python's uuid module (uuid5 of the same namespace and bytes). The lengths
// put the end of the name on each side of the hash's block and padding boundaries (namespace 16
// bytes + name: 55/56 and 63/64 bytes, and a name over two blocks).
TEST(NameUuid, MatchesAnIndependentVersion5) {
  const UuidBytes space = {0x3f, 0x0f, 0x9c, 0x52, 0x6a, 0x0e, 0x4c, 0x1b,
                           0x9b, 0x7e, 0x3a, 0x5c, 0x2d, 0x8e, 0x4f, 0x61};
  QByteArray entryId(4, '\0');
  for (char b = 0; b < 16; ++b) entryId += b;
  entryId += QByteArray("\x21\x80\x00\x00", 4);
  const std::pair<QByteArray, const char*> cases[] = {
      {"", "03c82973-a82e-5636-8696-7911a575e435"},
      {"abc", "78337349-54ff-57fc-9eb8-7aaf15e92405"},
      {QByteArray(39, 'x'), "0f779642-b30f-53d3-96e2-d3c3e99f1151"},
      {QByteArray(40, 'x'), "95c30d1d-de85-573b-849c-1825b3a67ce6"},
      {QByteArray(47, 'x'), "b95c8eba-5272-5432-9bce-7a6212e3faa2"},
      {QByteArray(48, 'x'), "c3b72ebf-5af9-521e-bfde-ebac7accd6f0"},
      {QByteArray(111, 'x'), "d2bf6d0d-8ab7-5f4c-89bb-9eec7595719f"},
      {entryId, "32ad846e-3cb6-599b-b524-de458605a93c"},
  };
  // One string for every case: what an earlier, longer value left must not show through.
  QString uuid = QStringLiteral("left over from an earlier entry, longer than a UUID");
  for (const auto& [name, expected] : cases) {
    NameUuidInto(uuid, space, name);
    EXPECT_EQ(uuid, QLatin1String(expected)) << name.size();
  }
}
