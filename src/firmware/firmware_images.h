#pragma once

// The carried images as the build embeds them (generated from firmware/release by dravion-pack).
// Read them through firmware_release.h.
namespace dravion::firmware_images {

extern const unsigned char kProgramA[57344];
extern const unsigned char kProgramB[57344];
extern const unsigned char kDataFlash[311296];

}  // namespace dravion::firmware_images
