// The handler classes in registration order. A class's index is its place in this table;
// the more specific a format, the later it stands.
#include "thumbs/registry.h"

#include "thumbs/exif.h"
#include "thumbs/jfif.h"
#include "thumbs/mpf.h"

namespace {

constexpr TkestJpegThumbHandlerClass kThumbHandlers[] = {
    HandlerClassOf<TkestJpegThumbBaseHandler>(),  // 0  "UNK*"
    // 1-5:   APP2v1, APP2v2, APP3 (multi-segment), APP4, APP5 (single-segment)
    HandlerClassOf<TkestJpegThumbJFIFHandler>(),  // 6  "JFIF"
    HandlerClassOf<TkestJpegThumbJFXXHandler>(),  // 7  "JFXX"
    HandlerClassOf<TkestJpegThumbExifHandler>(),  // 8  "EXIF"
    HandlerClassOf<TkestJpegThumbMPFHandler>(),   // 9  "MPF"
    // 10-13: FPXR2, FPXR4, FLIR, Photoshop
    // 14-17: H3X0, HPSCv2, HPSCv1, SCRNAIL
    // 18-20: PDBigTN, QVGA, BGTH
    // 21-28: PRV, Samsung, XMTH, RICOH, PENTAX, SCALADO, QTIDebug, Qualcomm
};

}  // namespace

std::span<const TkestJpegThumbHandlerClass> ThumbHandlers() { return kThumbHandlers; }
