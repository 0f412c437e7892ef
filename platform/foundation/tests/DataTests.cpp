#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/foundation/Exception.h"

using namespace ns;

namespace {

std::string str(const Data& d) { return std::string(d.view()); }

// Throws what `f` throws, as a name: "range", "length" or "none".
template <typename F>
std::string thrown(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.name() == kRangeException ? "range" : e.name();
    } catch (const std::length_error&) {
        return "length";
    }
    return "none";
}

}  // namespace

TEST(Data, GrowsIntoRoomThatIsCommittedAfterItIsWritten) {
    // Room inside the reserved capacity is the end of the same block.
    auto d = MutableData::make(100);
    d->appendString("head:");
    uint8_t* room = d->roomToAppend(10);
    EXPECT_EQ(room, d->bytes() + 5);
    EXPECT_EQ(d->length(), 5u);  // room is not part of the data yet
    std::memcpy(room, "0123456789", 10);
    d->commitAppended(4);
    d->commitAppended(0);
    EXPECT_EQ(str(*d), "head:0123");
    EXPECT_GE(d->capacity(), 100u);

    // Committing past the room is refused and changes nothing.
    EXPECT_EQ(thrown([&] { d->commitAppended(d->capacity() - d->length() + 1); }), "range");
    EXPECT_EQ(str(*d), "head:0123");

    // Growing keeps every committed byte, across the sizes where the
    // allocator moves a block by copying and where it remaps its pages.
    auto grown = MutableData::make();
    const size_t piece = size_t(1) << 20, pieces = 48;
    for (size_t i = 0; i < pieces; ++i) {
        uint8_t* p = grown->roomToAppend(piece);
        ASSERT_GE(grown->capacity() - grown->length(), piece);
        std::memset(p, static_cast<int>(i), piece);
        grown->commitAppended(piece);
    }
    ASSERT_EQ(grown->length(), piece * pieces);
    for (size_t i = 0; i < pieces; ++i) {
        EXPECT_EQ(grown->bytes()[i * piece], i);
        EXPECT_EQ(grown->bytes()[i * piece + piece - 1], i);
    }
    EXPECT_LE(grown->capacity(), 2 * piece * pieces);  // grows geometrically, not without bound
}

TEST(Data, LengthChangesStillZeroFillWhatTheyAdd) {
    auto d = MutableData::make();
    d->appendString("abc");
    // Bytes written into the room but not committed never show through.
    std::memset(d->roomToAppend(64), 0xAB, 64);
    d->increaseLengthBy(5);
    EXPECT_EQ(d->view(), std::string_view("abc\0\0\0\0\0", 8));
    // Nor do bytes cut off by a shorter length.
    d->setLength(2);
    d->setLength(4);
    EXPECT_EQ(d->view(), std::string_view("ab\0\0", 4));
    d->setLength(0);
    EXPECT_EQ(d->length(), 0u);
    EXPECT_NE(d->bytes(), nullptr);
}

TEST(Data, ImpossibleSizesThrowAndLeaveTheDataAsItWas) {
    auto d = MutableData::make();
    d->appendString("kept");
    const size_t cap = d->capacity();
    EXPECT_EQ(thrown([&] { d->roomToAppend(SIZE_MAX); }), "length");
    EXPECT_EQ(thrown([&] { d->roomToAppend(ByteBuffer::kMaxSize - 2); }), "length");  // with the length, too much
    EXPECT_EQ(thrown([&] { d->reserveCapacity(SIZE_MAX); }), "length");
    EXPECT_EQ(thrown([&] { d->setLength(SIZE_MAX); }), "length");
    EXPECT_EQ(thrown([&] { d->increaseLengthBy(SIZE_MAX - 1); }), "length");
    EXPECT_EQ(thrown([&] { d->appendBytes(d->bytes(), SIZE_MAX); }), "length");
    EXPECT_EQ(str(*d), "kept");
    EXPECT_EQ(d->capacity(), cap);
}

TEST(Data, CopiesRangesEqualityAndHashIgnoreTheRoom) {
    auto roomy = MutableData::make(1 << 16);
    roomy->appendString("hello world");
    auto tight = Data::make("hello world");
    EXPECT_TRUE(roomy->isEqual(*tight));
    EXPECT_TRUE(tight->isEqual(*roomy));
    EXPECT_EQ(roomy->hash(), tight->hash());
    EXPECT_FALSE(tight->isEqual(*Data::make("hello worle")));
    EXPECT_FALSE(tight->isEqual(*Data::make("hello worl")));
    EXPECT_EQ(tight->description(), "<68656c6c 6f20776f 726c64>");

    // A copy and a sub-range own their bytes.
    auto copy = Data::make(roomy->bytes(), roomy->length());
    auto part = roomy->subdataWithRange(6, 100);  // clamped to the end
    roomy->replaceBytes(0, 5, "HELLO", 5);
    EXPECT_EQ(str(*copy), "hello world");
    EXPECT_EQ(str(*part), "world");
    EXPECT_EQ(roomy->subdataWithRange(50, 3)->length(), 0u);

    // A buffer handed to a data object is taken over, not copied.
    ByteBuffer buffer("abc", 3);
    const uint8_t* block = buffer.data();
    auto taken = Data::make(std::move(buffer));
    EXPECT_EQ(taken->bytes(), block);

    // Sources inside the data itself, also when appending makes it grow.
    auto self = MutableData::make();
    self->appendString("ab");
    for (int i = 0; i < 12; ++i) self->appendBytes(self->bytes(), self->length());
    EXPECT_EQ(self->length(), size_t(2) << 12);
    EXPECT_EQ(self->view().substr(8190), "ab");
    auto mixed = MutableData::make();
    mixed->appendString("0123456789");
    mixed->replaceBytes(2, 2, mixed->bytes() + 5, 5);  // grows by three
    EXPECT_EQ(str(*mixed), "0156789456789");
    mixed->replaceBytes(0, 10, mixed->bytes() + 11, 2);  // shrinks
    EXPECT_EQ(str(*mixed), "89789");
    EXPECT_EQ(thrown([&] { mixed->replaceBytes(4, 2, "x", 1); }), "range");
    EXPECT_EQ(str(*mixed), "89789");
}
