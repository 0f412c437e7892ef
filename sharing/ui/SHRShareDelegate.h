// The object a share menu or share action sheet may consult before it starts
// the chosen sharer. Optional operations follow the project's idiom: the
// menu asks answers() before sending.
#pragma once

namespace sharing {

class SHRItem;
class SHRSharer;

class SHRShareDelegate {
public:
    virtual ~SHRShareDelegate() = default;
    enum class Optional { AboutToShareItemWithSharer };
    virtual bool answers(Optional) const { return false; }
    // NO stops the share (the sharer is made and has the item, but is not sent share()).
    virtual bool aboutToShareItemWithSharer(SHRItem* item, SHRSharer* sharer) { return true; }
};

}  // namespace sharing
