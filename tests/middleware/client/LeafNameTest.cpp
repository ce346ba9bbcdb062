// The leaf name kept of a peer's file nickname.
#include "QuarnLeafName.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

struct LeafCase {
    std::string nickname;
    std::string leaf;  // empty: no usable name
};

// The nickname in the test's name: letters, digits, "." and "_" as they are, other bytes as
// "%" and two hex digits, so that the name stays one plain word.
void PrintTo(const LeafCase& row, std::ostream* out)
{
    static const char digits[] = "0123456789ABCDEF";
    *out << "[";
    for (char c : row.nickname) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) || c == '.' || c == '_')
            *out << c;
        else
            *out << "%" << digits[u >> 4] << digits[u & 15];
    }
    *out << "]";
}

// A one-letter text before ":" names a drive ("x:stream" is the file "stream" on drive X).
class LeafName : public ::testing::TestWithParam<LeafCase> {};

TEST_P(LeafName, KeepsOnlyAFileNameOfThisFolder)
{
    EXPECT_EQ(GetParam().leaf, quarnLeafName(GetParam().nickname)) << GetParam().nickname;
}

INSTANTIATE_TEST_SUITE_P(Table, LeafName,
                         ::testing::Values(LeafCase{"b.txt", "b.txt"}, LeafCase{"a\\b.txt", "b.txt"},
                                           LeafCase{"a/b.txt", "b.txt"}, LeafCase{"..\\..\\evil.txt", "evil.txt"},
                                           LeafCase{"\\\\server\\share\\x.doc", "x.doc"}, LeafCase{"..", ""},
                                           LeafCase{".", ""}, LeafCase{"a\\..", ""}, LeafCase{"a\\", ""},
                                           LeafCase{"C:x", "x"}, LeafCase{"C:\\dir\\x", "x"},
                                           LeafCase{"x.txt:stream", "x.txt"}, LeafCase{"x:stream", "stream"}, LeafCase{"x.txt:s:$DATA", "x.txt"},
                                           LeafCase{":s", ""}, LeafCase{"CON", ""}, LeafCase{"con", ""},
                                           LeafCase{"nul.txt", ""}, LeafCase{"NUL .txt", ""},
                                           LeafCase{"COM1", ""}, LeafCase{"lpt9.log", ""},
                                           LeafCase{"COM10", "COM10"}, LeafCase{"console.txt", "console.txt"},
                                           LeafCase{"CON.", ""}, LeafCase{"x. . ", "x"},
                                           LeafCase{"a?b*c|d<e>f\"g\th", "a_b_c_d_e_f_g_h"},
                                           LeafCase{"", ""}, LeafCase{std::string("a\0b", 3), "a_b"},
                                           LeafCase{"\xe4pfel.txt", "\xe4pfel.txt"}));

TEST(LeafNameLength, ALongNameIsCutToOneFolderEntry)
{
    EXPECT_EQ(std::string(QUARN_LEAF_NAME_MAX, 'n'), quarnLeafName("dir\\" + std::string(300, 'n')));
    // A cut that ends on dots and spaces loses them as Windows would.
    std::string dotted = std::string(QUARN_LEAF_NAME_MAX - 2, 'n') + ". x";
    EXPECT_EQ(std::string(QUARN_LEAF_NAME_MAX - 2, 'n'), quarnLeafName(dotted));
}

} // namespace
