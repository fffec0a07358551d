#include "PxlTables.h"

#include <array>

namespace tarvik::pclxl {

namespace {

struct Row {
    uint8_t code;
    const char* name;
    uint8_t cls;
    // Zero-terminated: attribute id 0 is not defined.
    uint8_t attrs[16];
};

// Attributes of the colour-source operators (SetBrushSource, SetPenSource).
#define PXL_SOURCE_ATTRS                                                                           \
    aRGBColor, aGrayLevel, aPrimaryArray, aPrimaryDepth, aPatternSelectID, aPatternOrigin,         \
        aNewDestinationSize, aColorSpace
#define PXL_BOX_ARC_ATTRS aBoundingBox, aStartPoint, aEndPoint, aArcDirection
#define PXL_POINTS_ATTRS aEndPoint, aNumberOfPoints, aPointType, aControlPoint1, aControlPoint2
#define PXL_IMAGE_ATTRS                                                                            \
    aColorMapping, aColorDepth, aSourceWidth, aSourceHeight, aDestinationSize, aDestinationBox
#define PXL_READ_ATTRS aStartLine, aBlockHeight, aCompressMode, aPadBytesMultiple, aBlockByteLength
#define PXL_OBJECT_ATTRS aAllObjectTypes, aTextObjects, aVectorObjects, aRasterObjects

const Row kRows[] = {
    {kBeginSession, "BeginSession", 11, {aMeasure, aUnitsPerMeasure, aErrorReport}},
    {kEndSession, "EndSession", 11, {}},
    {kBeginPage,
     "BeginPage",
     11,
     {aOrientation, aMediaSize, aCustomMediaSize, aCustomMediaSizeUnits, aMediaSource, aMediaType,
      aMediaDestination, aSimplexPageMode, aDuplexPageMode, aDuplexPageSide}},
    {kEndPage, "EndPage", 11, {aPageCopies}},
    {kVendorUnique,
     "VendorUnique",
     20,
     {aVUExtension, aVUDataLength, 147, 148, 149, 150, 151, 152}},
    {kComment, "Comment", 11, {aCommentData}},
    {kOpenDataSource, "OpenDataSource", 11, {aSourceType, aDataOrg}},
    {kCloseDataSource, "CloseDataSource", 11, {}},
    {kEchoComment, "EchoComment", 20, {aCommentData}},
    {kQuery, "Query", 20, {138}},
    {kDiagnostic3, "Diagnostic3", 20, {}},
    {kBeginFontHeader, "BeginFontHeader", 11, {aFontName, aFontFormat}},
    {kReadFontHeader, "ReadFontHeader", 11, {aFontHeaderLength}},
    {kEndFontHeader, "EndFontHeader", 11, {}},
    {kBeginChar, "BeginChar", 11, {aFontName}},
    {kReadChar, "ReadChar", 11, {aCharCode, aCharDataSize}},
    {kEndChar, "EndChar", 11, {}},
    {kRemoveFont, "RemoveFont", 11, {aFontName}},
    {kSetCharAttributes, "SetCharAttributes", 20, {aWritingMode}},
    {kSetDefaultGS, "SetDefaultGS", 21, {}},
    {kSetColorTreatment, "SetColorTreatment", 21, {aColorTreatment, PXL_OBJECT_ATTRS}},
    {kBeginStream, "BeginStream", 11, {aStreamName}},
    {kReadStream, "ReadStream", 11, {aStreamDataLength}},
    {kEndStream, "EndStream", 11, {}},
    {kExecStream, "ExecStream", 11, {aStreamName}},
    {kRemoveStream, "RemoveStream", 20, {aStreamName}},
    {kPopGS, "PopGS", 11, {}},
    {kPushGS, "PushGS", 11, {}},
    {kSetClipReplace, "SetClipReplace", 11, {aClipRegion}},
    {kSetBrushSource, "SetBrushSource", 11, {PXL_SOURCE_ATTRS, aNullBrush}},
    {kSetCharAngle, "SetCharAngle", 11, {aCharAngle}},
    {kSetCharScale, "SetCharScale", 11, {aCharScale}},
    {kSetCharShear, "SetCharShear", 11, {aCharShear}},
    {kSetClipIntersect, "SetClipIntersect", 11, {aClipRegion}},
    {kSetClipRectangle, "SetClipRectangle", 11, {aClipRegion, aBoundingBox}},
    {kSetClipToPage, "SetClipToPage", 11, {}},
    {kSetColorSpace, "SetColorSpace", 11, {aColorSpace, aPaletteDepth, aPaletteData}},
    {kSetCursor, "SetCursor", 11, {aPoint}},
    {kSetCursorRel, "SetCursorRel", 11, {aPoint}},
    {kSetHalftoneMethod,
     "SetHalftoneMethod",
     11,
     {aDitherOrigin, aDeviceMatrix, aDitherMatrixDataType, aDitherMatrixSize, aDitherMatrixDepth,
      PXL_OBJECT_ATTRS}},
    {kSetFillMode, "SetFillMode", 11, {aFillMode}},
    {kSetFont, "SetFont", 11, {aFontName, aCharSize, aSymbolSet, aWritingMode}},
    {kSetLineDash, "SetLineDash", 11, {aLineDashStyle, aDashOffset, aSolidLine}},
    {kSetLineCap, "SetLineCap", 11, {aLineCapStyle}},
    {kSetLineJoin, "SetLineJoin", 11, {aLineJoinStyle}},
    {kSetMiterLimit, "SetMiterLimit", 11, {aMiterLength}},
    {kSetPageDefaultCTM, "SetPageDefaultCTM", 11, {}},
    {kSetPageOrigin, "SetPageOrigin", 11, {aPageOrigin}},
    {kSetPageRotation, "SetPageRotation", 11, {aPageAngle}},
    {kSetPageScale, "SetPageScale", 11, {aPageScale, aMeasure, aUnitsPerMeasure}},
    {kSetPaintTxMode, "SetPaintTxMode", 11, {aTxMode}},
    {kSetPenSource, "SetPenSource", 11, {PXL_SOURCE_ATTRS, aNullPen}},
    {kSetPenWidth, "SetPenWidth", 11, {aPenWidth}},
    {kSetROP, "SetROP", 11, {aROP3}},
    {kSetSourceTxMode, "SetSourceTxMode", 11, {aTxMode}},
    {kSetCharBoldValue, "SetCharBoldValue", 11, {aCharBoldValue}},
    {kSetNeutralAxis, "SetNeutralAxis", 30, {PXL_OBJECT_ATTRS}},
    {kSetClipMode, "SetClipMode", 11, {aClipMode}},
    {kSetPathToClip, "SetPathToClip", 11, {}},
    {kSetCharSubMode, "SetCharSubMode", 11, {aCharSubModeArray}},
    {kBeginUserDefinedLineCaps, "BeginUserDefinedLineCaps", 30, {}},
    {kEndUserDefinedLineCaps, "EndUserDefinedLineCaps", 30, {}},
    {kCloseSubPath, "CloseSubPath", 11, {}},
    {kNewPath, "NewPath", 11, {}},
    {kPaintPath, "PaintPath", 11, {}},
    {kArcPath, "ArcPath", 11, {PXL_BOX_ARC_ATTRS}},
    {kSetColorTrapping, "SetColorTrapping", 30, {aAllObjectTypes}},
    {kBezierPath, "BezierPath", 11, {PXL_POINTS_ATTRS}},
    {kSetAdaptiveHalftoning, "SetAdaptiveHalftoning", 30, {PXL_OBJECT_ATTRS}},
    {kBezierRelPath, "BezierRelPath", 11, {PXL_POINTS_ATTRS}},
    {kChord, "Chord", 11, {PXL_BOX_ARC_ATTRS}},
    {kChordPath, "ChordPath", 11, {PXL_BOX_ARC_ATTRS}},
    {kEllipse, "Ellipse", 11, {aBoundingBox}},
    {kEllipsePath, "EllipsePath", 11, {aBoundingBox}},
    {kLinePath, "LinePath", 11, {PXL_POINTS_ATTRS}},
    {kLineRelPath, "LineRelPath", 11, {PXL_POINTS_ATTRS}},
    {kPie, "Pie", 11, {PXL_BOX_ARC_ATTRS}},
    {kPiePath, "PiePath", 11, {PXL_BOX_ARC_ATTRS}},
    {kRectangle, "Rectangle", 11, {aBoundingBox}},
    {kRectanglePath, "RectanglePath", 11, {aBoundingBox}},
    {kRoundRectangle, "RoundRectangle", 11, {aBoundingBox, aEllipseDimension}},
    {kRoundRectanglePath, "RoundRectanglePath", 11, {aBoundingBox, aEllipseDimension}},
    {kText, "Text", 11, {aTextData, aXSpacingData, aYSpacingData}},
    {kTextPath, "TextPath", 11, {aTextData, aXSpacingData, aYSpacingData}},
    {kBeginImage, "BeginImage", 11, {PXL_IMAGE_ATTRS}},
    {kReadImage, "ReadImage", 11, {PXL_READ_ATTRS}},
    {kEndImage, "EndImage", 11, {}},
    {kBeginRastPattern,
     "BeginRastPattern",
     11,
     {PXL_IMAGE_ATTRS, aPatternDefineID, aPatternPersistence}},
    {kReadRastPattern, "ReadRastPattern", 11, {PXL_READ_ATTRS}},
    {kEndRastPattern, "EndRastPattern", 11, {}},
    {kBeginScan, "BeginScan", 11, {}},
    {kEndScan, "EndScan", 11, {}},
    {kScanLineRel, "ScanLineRel", 11, {aNumberOfScanLines}},
    {kPassThrough, "PassThrough", 30, {}},
};

struct Tables {
    std::array<OperatorInfo, 256> ops{};
    std::array<const char*, 256> attrNames{};
    Tables() {
        for (unsigned i = 0; i < 256; ++i) ops[i].code = static_cast<uint8_t>(i);
        for (const Row& r : kRows) {
            OperatorInfo& o = ops[r.code];
            o.name = r.name;
            o.protocolClass = r.cls;
            o.attrs = r.attrs;
            uint8_t n = 0;
            while (n < 16 && r.attrs[n] != 0) ++n;
            o.attrCount = n;
        }
        static const std::pair<uint8_t, const char*> names[] = {
            {1, "CMYColor"},
            {aPaletteDepth, "PaletteDepth"},
            {aColorSpace, "ColorSpace"},
            {aNullBrush, "NullBrush"},
            {aNullPen, "NullPen"},
            {aPaletteData, "PaletteData"},
            {aPatternSelectID, "PatternSelectID"},
            {aGrayLevel, "GrayLevel"},
            {aRGBColor, "RGBColor"},
            {aPatternOrigin, "PatternOrigin"},
            {aNewDestinationSize, "NewDestinationSize"},
            {aPrimaryArray, "PrimaryArray"},
            {aPrimaryDepth, "PrimaryDepth"},
            {aAllObjectTypes, "AllObjectTypes"},
            {aTextObjects, "TextObjects"},
            {aVectorObjects, "VectorObjects"},
            {aRasterObjects, "RasterObjects"},
            {aDeviceMatrix, "DeviceMatrix"},
            {aDitherMatrixDataType, "DitherMatrixDataType"},
            {aDitherOrigin, "DitherOrigin"},
            {aMediaDestination, "MediaDestination"},
            {aMediaSize, "MediaSize"},
            {aMediaSource, "MediaSource"},
            {aMediaType, "MediaType"},
            {aOrientation, "Orientation"},
            {aPageAngle, "PageAngle"},
            {aPageOrigin, "PageOrigin"},
            {aPageScale, "PageScale"},
            {aROP3, "ROP3"},
            {aTxMode, "TxMode"},
            {aCustomMediaSize, "CustomMediaSize"},
            {aCustomMediaSizeUnits, "CustomMediaSizeUnits"},
            {aPageCopies, "PageCopies"},
            {aDitherMatrixSize, "DitherMatrixSize"},
            {aDitherMatrixDepth, "DitherMatrixDepth"},
            {aSimplexPageMode, "SimplexPageMode"},
            {aDuplexPageMode, "DuplexPageMode"},
            {aDuplexPageSide, "DuplexPageSide"},
            {aArcDirection, "ArcDirection"},
            {aBoundingBox, "BoundingBox"},
            {aDashOffset, "DashOffset"},
            {aEllipseDimension, "EllipseDimension"},
            {aEndPoint, "EndPoint"},
            {aFillMode, "FillMode"},
            {aLineCapStyle, "LineCapStyle"},
            {aLineJoinStyle, "LineJoinStyle"},
            {aMiterLength, "MiterLength"},
            {aLineDashStyle, "LineDashStyle"},
            {aPenWidth, "PenWidth"},
            {aPoint, "Point"},
            {aNumberOfPoints, "NumberOfPoints"},
            {aSolidLine, "SolidLine"},
            {aStartPoint, "StartPoint"},
            {aPointType, "PointType"},
            {aControlPoint1, "ControlPoint1"},
            {aControlPoint2, "ControlPoint2"},
            {aClipRegion, "ClipRegion"},
            {aClipMode, "ClipMode"},
            {aColorDepth, "ColorDepth"},
            {aBlockHeight, "BlockHeight"},
            {aColorMapping, "ColorMapping"},
            {aCompressMode, "CompressMode"},
            {aDestinationBox, "DestinationBox"},
            {aDestinationSize, "DestinationSize"},
            {aPatternPersistence, "PatternPersistence"},
            {aPatternDefineID, "PatternDefineID"},
            {aSourceHeight, "SourceHeight"},
            {aSourceWidth, "SourceWidth"},
            {aStartLine, "StartLine"},
            {aPadBytesMultiple, "PadBytesMultiple"},
            {aBlockByteLength, "BlockByteLength"},
            {aNumberOfScanLines, "NumberOfScanLines"},
            {116, "PrintableArea"},
            {aColorTreatment, "ColorTreatment"},
            {aCommentData, "CommentData"},
            {aDataOrg, "DataOrg"},
            {aMeasure, "Measure"},
            {aSourceType, "SourceType"},
            {aUnitsPerMeasure, "UnitsPerMeasure"},
            {138, "QueryKey"},
            {aStreamName, "StreamName"},
            {aStreamDataLength, "StreamDataLength"},
            {aErrorReport, "ErrorReport"},
            {144, "IOReadTimeOut"},
            {aVUExtension, "VUExtension"},
            {aVUDataLength, "VUDataLength"},
            {147, "VUStripCount"},
            {148, "VUStripHeight"},
            {149, "VUVersion"},
            {150, "VUTextObjectType"},
            {151, "VUColorMode"},
            {152, "VUColorEnumeration"},
            {aCharAngle, "CharAngle"},
            {aCharCode, "CharCode"},
            {aCharDataSize, "CharDataSize"},
            {aCharScale, "CharScale"},
            {aCharShear, "CharShear"},
            {aCharSize, "CharSize"},
            {aFontHeaderLength, "FontHeaderLength"},
            {aFontName, "FontName"},
            {aFontFormat, "FontFormat"},
            {aSymbolSet, "SymbolSet"},
            {aTextData, "TextData"},
            {aCharSubModeArray, "CharSubModeArray"},
            {aWritingMode, "WritingMode"},
            {aXSpacingData, "XSpacingData"},
            {aYSpacingData, "YSpacingData"},
            {aCharBoldValue, "CharBoldValue"},
        };
        for (const auto& [id, name] : names) attrNames[id] = name;
    }
};

const Tables& GetTables() {
    static const Tables tables;
    return tables;
}

} // namespace

bool OperatorInfo::Accepts(uint8_t attr) const {
    for (uint8_t i = 0; i < attrCount; ++i)
        if (attrs[i] == attr) return true;
    return false;
}

const OperatorInfo& OperatorTable(uint8_t code) {
    return GetTables().ops[code];
}

const char* AttributeName(unsigned id) {
    return id < 256 ? GetTables().attrNames[id] : nullptr;
}

} // namespace tarvik::pclxl
