// Image data for the sharing framework: the PNG form a share item keeps in
// its dictionary and the JPEG form the offline queue and the mail sharer
// write.
//
// The interface stand-in's images keep a name and a pixel size, no pixels.
// The encoders therefore write a real, valid PNG or JPEG file of the image's
// size (a plain grey canvas) and carry the image's name inside it (a PNG
// "Title" text chunk, a JPEG comment), so that decoding gives back an image
// with the same name and size. Any PNG or JPEG (not only ours) decodes to an
// image of its size; its name is the carried one, else "image".
#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/ui/Image.h"

namespace sharing {

// Largest width or height encoded or decoded (pixels).
inline constexpr double kMaxImageSide = 16384;

// PNG bytes of `image`; nil when the image is nil, empty or too large.
ns::Ref<ns::Data> imagePNGRepresentation(const ui::Image* image);
// JPEG bytes at `quality` (0.0 to 1.0, clamped); nil as above.
ns::Ref<ns::Data> imageJPEGRepresentation(const ui::Image* image, double quality);
// The image in PNG or JPEG bytes; nil when the bytes are neither or their
// header is damaged.
ns::Ref<ui::Image> imageWithData(std::string_view bytes);
// The quality recorded in a JPEG we wrote (1 to 100), -1 when unknown.
int jpegQualityOf(std::string_view bytes);

}  // namespace sharing
