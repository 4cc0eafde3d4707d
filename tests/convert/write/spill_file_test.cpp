#include "convert/write/spill_file.h"

#include <gtest/gtest.h>

#include <string>

namespace paginor {
namespace {

// Texts spilled in turns come back whole and in order, whatever the block size.
TEST(SpillFile, PiecesComeBackInOrder) {
    SpillFile file("rows");
    SpilledPieces first;
    SpilledPieces second;
    std::string a = "first sheet, part one;";
    std::string b(10000, 'x');
    std::string c = "first sheet, part two";
    file.Spill(a, first);
    file.Spill(b, second);
    file.Spill(c, first);
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(c.empty());
    for (const std::size_t block : {std::size_t{1}, std::size_t{7}, std::size_t{1} << 20}) {
        std::string back;
        file.ReadBack(first, block, [&](std::string_view piece) {
            EXPECT_LE(piece.size(), block);
            back += piece;
        });
        EXPECT_EQ(back, "first sheet, part one;first sheet, part two");
        back.clear();
        file.ReadBack(second, block, [&](std::string_view piece) { back += piece; });
        EXPECT_EQ(back, std::string(10000, 'x'));
    }
}

}  // namespace
}  // namespace paginor
