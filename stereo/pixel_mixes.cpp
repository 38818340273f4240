// Formats that mix the two views per pixel.  Until their composition code
// lands they show one side.
#include "stereo/present.h"

void RenderAnaglyph(RenderContext& ctx, const RenderInput& in) { RenderOneSide(ctx, in); }
void RenderRowInterlace(RenderContext& ctx, const RenderInput& in) { RenderOneSide(ctx, in); }
void RenderColumnInterlace(RenderContext& ctx, const RenderInput& in) { RenderOneSide(ctx, in); }
void RenderSharp3dLcd(RenderContext& ctx, const RenderInput& in) { RenderOneSide(ctx, in); }
void RenderDlpCheckerboard(RenderContext& ctx, const RenderInput& in) { RenderOneSide(ctx, in); }
