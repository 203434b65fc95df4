// The handler classes in registration order. A class's index is its place in this table;
// the more specific a format, the later it stands.
#include "thumbs/registry.h"

#include "thumbs/exif.h"
#include "thumbs/jfif.h"
#include "thumbs/mpf.h"
#include "thumbs/vendor_multi.h"
#include "thumbs/vendor_sequenced.h"
#include "thumbs/vendor_single.h"

namespace {

constexpr TkestJpegThumbHandlerClass kThumbHandlers[] = {
    HandlerClassOf<TkestJpegThumbBaseHandler>(),  // 0  "UNK*"
    HandlerClassOf<TkestJpegThumbAPP2v1Handler>(),  // 1  "APP2v1"
    HandlerClassOf<TkestJpegThumbAPP2v2Handler>(),  // 2  "APP2v2"
    HandlerClassOf<TkestJpegThumbAPP3Handler>(),    // 3  "APP3"
    HandlerClassOf<TkestJpegThumbAPP4Handler>(),    // 4  "APP4"
    HandlerClassOf<TkestJpegThumbAPP5Handler>(),    // 5  "APP5"
    HandlerClassOf<TkestJpegThumbJFIFHandler>(),  // 6  "JFIF"
    HandlerClassOf<TkestJpegThumbJFXXHandler>(),  // 7  "JFXX"
    HandlerClassOf<TkestJpegThumbExifHandler>(),  // 8  "EXIF"
    HandlerClassOf<TkestJpegThumbMPFHandler>(),   // 9  "MPF"
    HandlerClassOf<TkestJpegThumbFPXR2Handler>(),             // 10 "FPXR2"
    HandlerClassOf<TkestJpegThumbFPXR4Handler>(),             // 11 "FPXR4"
    HandlerClassOf<TkestJpegThumbFLIRHandler>(),              // 12 "FLIR"
    HandlerClassOf<TkestJpegThumbPhotoshopHandler>(),         // 13 "PS"
    HandlerClassOf<TkestJpegThumbH3X0Handler>(),              // 14 "H3X0"
    HandlerClassOf<TkestJpegThumbHPSCHandler2>(),             // 15 "HPSCv2"
    HandlerClassOf<TkestJpegThumbHPSCHandler1>(),             // 16 "HPSCv1", asked before HPSCv2
    HandlerClassOf<TkestJpegThumbSCRNAILHandler>(),           // 17 "SCRNAIL"
    HandlerClassOf<TkestJpegThumbPDBigTNHandler>(),           // 18 "PDBigTN"
    HandlerClassOf<TkestJpegThumbQVGAHandler>(),              // 19 "QVGA"
    HandlerClassOf<TkestJpegThumbBGTHHandler>(),              // 20 "BGTH"
    HandlerClassOf<TkestJpegThumbPrvHandler>(),               // 21 "PRV"
    HandlerClassOf<TkestJpegThumbSamsungHandler>(),           // 22 "Samsung"
    HandlerClassOf<TkestJpegThumbXMTHHandler>(),              // 23 "XMTH"
    HandlerClassOf<TkestJpegThumbRICOHHandler>(),             // 24 "RICOH"
    HandlerClassOf<TkestJpegThumbPENTAXHandler>(),            // 25 "PENTAX"
    HandlerClassOf<TkestJpegThumbSCALADOHandler>(),           // 26 "SCALADO"
    HandlerClassOf<TkestJpegThumbQTIDebugMetadataHandler>(),  // 27 "QTIDebug"
    HandlerClassOf<TkestJpegThumbQualcommHandler>(),          // 28 "Qualcomm"
};

}  // namespace

std::span<const TkestJpegThumbHandlerClass> ThumbHandlers() { return kThumbHandlers; }
