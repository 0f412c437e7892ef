// Shared text form of arrays and dictionaries for description():
// the indented, quoted layout that log lines and "%@" print.
#pragma once

#include <cstddef>
#include <string>

namespace ns {
class Object;

// How many collections deep one description is written in full, counted on
// the calling thread across every description() a description calls (an
// element of another class that describes a collection of its own counts
// too). A collection deeper than that is written in short form, its count
// alone: "(3 elements)", "{1 entry}". So a tree of any depth, or a
// collection that holds itself, is described on a bounded stack and in
// bounded text.
inline constexpr int kDescriptionDepthLimit = 64;

// A collection already being described on the calling thread (one that
// holds itself, directly or through others) is written in short form where
// it is met again. And once the text of one description (the outermost on
// the thread) has passed this many bytes, every collection met from then on
// in that description is written in short form: collections that hold each
// other all around, or a tree that holds the same collection twice at every
// level, have more paths than the depth limit alone can bound. Each
// outermost description starts with the whole budget.
inline constexpr size_t kDescriptionTextBudget = 8u << 20;

// The text of an array or dictionary `o` whose lines are indented `indent`
// levels. Its entries are held while they are described, so an element
// whose own description changes or frees the collection is described with
// the rest, from the entries the collection had when its description began.
std::string describeCollection(const Object* o, int indent);
}  // namespace ns
