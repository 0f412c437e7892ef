// Shared text form of arrays and dictionaries for description():
// the indented, quoted layout that log lines and "%@" print.
#pragma once

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

// The text of an array or dictionary `o` whose lines are indented `indent`
// levels. Its entries are held while they are described, so an element
// whose own description changes or frees the collection is described with
// the rest, from the entries the collection had when its description began.
std::string describeCollection(const Object* o, int indent);
}  // namespace ns
