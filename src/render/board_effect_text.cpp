// SPDX-License-Identifier: GPL-2.0-or-later
#include "render/board_effect.h"

// The board's effect program, in the host's effect dialect.
extern const char board_effect_text[] = R"EFFECT(
uniform float4x4 ViewProj;
uniform texture2d image;
uniform float2 uv_min;
uniform float2 uv_max;
uniform float2 blur_step;
uniform float4 blur_wa;
uniform float4 blur_wb;
uniform float4 blur_wc;
uniform float blur_center;
uniform float2 cap_origin;
uniform float2 cap_inv_size;
uniform float2 grid_origin;
uniform float2 grid_dim;
uniform float cell_size;
uniform float2 pos_origin;
uniform float2 pos_du;
uniform float2 pos_dv;
uniform float4 hatch_color;
uniform texture2d orig;
uniform float2 orig_uv_min;
uniform float2 orig_uv_max;
uniform float2 local_origin;
uniform float2 local_du;
uniform float2 local_dv;
uniform float4 shape_rect;
uniform float shape_kind;
uniform float feather;
uniform float corner_radius;
uniform float invert;
uniform float4 cover_color;
uniform float cover_alpha;
uniform float cover_scale;

sampler_state linear_clamp {
	Filter = Linear;
	AddressU = Clamp;
	AddressV = Clamp;
};

sampler_state point_clamp {
	Filter = Point;
	AddressU = Clamp;
	AddressV = Clamp;
};

struct VertData {
	float4 pos : POSITION;
	float2 uv : TEXCOORD0;
};

struct VertBoard {
	float4 pos : POSITION;
	float2 uv : TEXCOORD0;
	float2 local : TEXCOORD1;
};

// uv through an affine map: the canvas position for the composite (rotated
// quads address right), the source texture's uv for the chain's passes.
VertData VSCanvas(VertData v_in)
{
	VertData v_out;
	v_out.pos = mul(float4(v_in.pos.xyz, 1.0), ViewProj);
	v_out.uv = pos_origin + pos_du * v_in.uv.x + pos_dv * v_in.uv.y;
	return v_out;
}

VertBoard VSBoard(VertData v_in)
{
	VertBoard v_out;
	v_out.pos = mul(float4(v_in.pos.xyz, 1.0), ViewProj);
	v_out.uv = pos_origin + pos_du * v_in.uv.x + pos_dv * v_in.uv.y;
	// The board's frame, on its own quad or the canvas's (invert).
	v_out.local = local_origin + local_du * v_in.uv.x + local_dv * v_in.uv.y;
	return v_out;
}

float4 read_image(float2 uv)
{
	return image.Sample(linear_clamp, clamp(uv, uv_min, uv_max));
}

float4 PSDown(VertData v_in) : TARGET
{
	return read_image(v_in.uv);
}

// Point reads at whole texels, weighted by the caller: llvmpipe pays for a
// bilinear read several times what it pays for a point read, more than the
// second tap that the bilinear read would bring. Each count is its own
// straight-line shader, since llvmpipe runs a loop with a uniform bound far
// slower.
float4 point_at(float2 uv)
{
	return image.Sample(point_clamp, clamp(uv, uv_min, uv_max));
}

float4 taps(float2 uv, float i, float w)
{
	return (point_at(uv + blur_step * i) + point_at(uv - blur_step * i)) * w;
}

float4 blur1(float2 uv) { return point_at(uv) * blur_center + taps(uv, 1.0, blur_wa.x); }
float4 blur2(float2 uv) { return blur1(uv) + taps(uv, 2.0, blur_wa.y); }
float4 blur3(float2 uv) { return blur2(uv) + taps(uv, 3.0, blur_wa.z); }
float4 blur4(float2 uv) { return blur3(uv) + taps(uv, 4.0, blur_wa.w); }
float4 blur5(float2 uv) { return blur4(uv) + taps(uv, 5.0, blur_wb.x); }
float4 blur6(float2 uv) { return blur5(uv) + taps(uv, 6.0, blur_wb.y); }
float4 blur7(float2 uv) { return blur6(uv) + taps(uv, 7.0, blur_wb.z); }
float4 blur8(float2 uv) { return blur7(uv) + taps(uv, 8.0, blur_wb.w); }
float4 blur9(float2 uv) { return blur8(uv) + taps(uv, 9.0, blur_wc.x); }
float4 blur10(float2 uv) { return blur9(uv) + taps(uv, 10.0, blur_wc.y); }
float4 blur11(float2 uv) { return blur10(uv) + taps(uv, 11.0, blur_wc.z); }
float4 blur12(float2 uv) { return blur11(uv) + taps(uv, 12.0, blur_wc.w); }
// The same taps read bilinearly, for a level whose last texel the canvas
// edge cuts: clamped there, a point read would take that texel whole.
float4 linear_taps(float2 uv, float i, float w)
{
	return (read_image(uv + blur_step * i) + read_image(uv - blur_step * i)) * w;
}

float4 PSBlur(VertData v_in) : TARGET
{
	float2 uv = v_in.uv;
	return read_image(uv) * blur_center + linear_taps(uv, 1.0, blur_wa.x) +
	       linear_taps(uv, 2.0, blur_wa.y) +
	       linear_taps(uv, 3.0, blur_wa.z) +
	       linear_taps(uv, 4.0, blur_wa.w) +
	       linear_taps(uv, 5.0, blur_wb.x) +
	       linear_taps(uv, 6.0, blur_wb.y) +
	       linear_taps(uv, 7.0, blur_wb.z) +
	       linear_taps(uv, 8.0, blur_wb.w) +
	       linear_taps(uv, 9.0, blur_wc.x) +
	       linear_taps(uv, 10.0, blur_wc.y) +
	       linear_taps(uv, 11.0, blur_wc.z) +
	       linear_taps(uv, 12.0, blur_wc.w);
}

float4 PSBlur1(VertData v_in) : TARGET { return blur1(v_in.uv); }
float4 PSBlur2(VertData v_in) : TARGET { return blur2(v_in.uv); }
float4 PSBlur3(VertData v_in) : TARGET { return blur3(v_in.uv); }
float4 PSBlur4(VertData v_in) : TARGET { return blur4(v_in.uv); }
float4 PSBlur5(VertData v_in) : TARGET { return blur5(v_in.uv); }
float4 PSBlur6(VertData v_in) : TARGET { return blur6(v_in.uv); }
float4 PSBlur7(VertData v_in) : TARGET { return blur7(v_in.uv); }
float4 PSBlur8(VertData v_in) : TARGET { return blur8(v_in.uv); }
float4 PSBlur9(VertData v_in) : TARGET { return blur9(v_in.uv); }
float4 PSBlur10(VertData v_in) : TARGET { return blur10(v_in.uv); }
float4 PSBlur11(VertData v_in) : TARGET { return blur11(v_in.uv); }
float4 PSBlur12(VertData v_in) : TARGET { return blur12(v_in.uv); }

// A halving that filters first: four bilinear reads at +-blur_step in each
// direction stand for a 4 x 4 Gaussian around the new texel, which keeps the
// detail that a 2 x 2 average would fold back into the blur.
float4 PSHalve(VertData v_in) : TARGET
{
	float2 s = blur_step;
	return (read_image(v_in.uv - s) + read_image(v_in.uv + float2(s.x, -s.y)) +
		read_image(v_in.uv + float2(-s.x, s.y)) + read_image(v_in.uv + s)) * 0.25;
}

// [1 7 21 35 35 21 7 1] / 128 along each axis, read in pairs: reads at
// +-blur_step weigh 56/128, at +-3 blur_step 8/128.
float4 halve8_row(float2 uv, float2 s)
{
	return (read_image(uv - s) + read_image(uv + s)) * 0.4375 +
	       (read_image(uv - 3.0 * s) + read_image(uv + 3.0 * s)) * 0.0625;
}

float4 PSHalve8(VertData v_in) : TARGET
{
	float2 sx = float2(blur_step.x, 0.0);
	float2 sy = float2(0.0, blur_step.y);
	return (halve8_row(v_in.uv - sy, sx) + halve8_row(v_in.uv + sy, sx)) * 0.4375 +
	       (halve8_row(v_in.uv - 3.0 * sy, sx) + halve8_row(v_in.uv + 3.0 * sy, sx)) * 0.0625;
}

float2 cell_base(float2 uv)
{
	return grid_origin + floor(uv * grid_dim) * cell_size;
}

float4 PSReduce(VertData v_in) : TARGET
{
	float2 base = cell_base(v_in.uv);
	float4 sum = float4(0.0, 0.0, 0.0, 0.0);
	for (int j = 0; j < 4; j++) {
		for (int i = 0; i < 4; i++) {
			float2 p = base + (float2(float(i), float(j)) + 0.5) * (cell_size * 0.25);
			sum += image.Sample(linear_clamp, clamp((p - cap_origin) * cap_inv_size, uv_min, uv_max));
		}
	}
	return sum * 0.0625;
}

float4 PSReducePoint(VertData v_in) : TARGET
{
	float2 base = cell_base(v_in.uv);
	float4 sum = float4(0.0, 0.0, 0.0, 0.0);
	for (int j = 0; j < 4; j++) {
		for (int i = 0; i < 4; i++) {
			float2 p = base + (float2(float(i), float(j)) + 0.5) * (cell_size * 0.25);
			sum += image.Sample(point_clamp, clamp((p - cap_origin) * cap_inv_size, uv_min, uv_max));
		}
	}
	return sum * 0.0625;
}

float4 blur_at(float2 canvas_pos)
{
	return read_image((canvas_pos - cap_origin) * cap_inv_size);
}

float4 mosaic_at(float2 canvas_pos)
{
	float2 cell = floor((canvas_pos - grid_origin) / cell_size);
	return image.Sample(point_clamp, clamp((cell + 0.5) / grid_dim, uv_min, uv_max));
}

// Signed inside distance in pixels: rectangle, ellipse (estimate) or
// rounded rectangle (exact).
float inside_distance(float2 p)
{
	float2 c = (shape_rect.xy + shape_rect.zw) * 0.5;
	float2 r = max((shape_rect.zw - shape_rect.xy) * 0.5, float2(0.5, 0.5));
	float d;
	if (shape_kind > 1.5) {
		float2 q = abs(p - c) - (r - corner_radius);
		d = corner_radius - length(max(q, float2(0.0, 0.0))) - min(max(q.x, q.y), 0.0);
	} else if (shape_kind > 0.5) {
		float2 q = (p - c) / r;
		float k0 = length(q);
		float k1 = length(q / r);
		if (k0 < 0.0001)
			d = min(r.x, r.y);
		else
			d = k0 * (1.0 - k0) / k1;
	} else {
		float2 e = r - abs(p - c);
		d = min(e.x, e.y);
	}
	return d;
}

// Coverage; inverted, all but the shape.
float shape_mask(float2 p)
{
	float d = inside_distance(p);
	float m = feather > 0.0 ? saturate(d / feather) : saturate(d + 0.5);
	return invert > 0.5 ? 1.0 - m : m;
}

float4 shaped(float2 canvas_pos, float2 local, float4 processed)
{
	float4 o = orig.Sample(linear_clamp, clamp((canvas_pos - cap_origin) * cap_inv_size, orig_uv_min, orig_uv_max));
	return lerp(o, processed, shape_mask(local));
}

float4 PSFinalBlur(VertData v_in) : TARGET
{
	return blur_at(v_in.uv);
}

float4 PSFinalMosaic(VertData v_in) : TARGET
{
	return mosaic_at(v_in.uv);
}

float4 PSFinalBlurShaped(VertBoard v_in) : TARGET
{
	return shaped(v_in.uv, v_in.local, blur_at(v_in.uv));
}

float4 PSFinalMosaicShaped(VertBoard v_in) : TARGET
{
	return shaped(v_in.uv, v_in.local, mosaic_at(v_in.uv));
}

// Cover mode: nothing of the picture is read. The output is premultiplied
// and blended over the target, so the shape's soft edge and a fade mix the
// cover with what is beneath, and where both are 1 it replaces it.
float4 covered(float3 rgb, float2 local)
{
	float a = shape_mask(local) * cover_alpha;
	return float4(rgb * (cover_scale * a), a);
}

float4 PSFinalCover(VertBoard v_in) : TARGET
{
	return covered(cover_color.rgb, v_in.local);
}

// The image stretched over the shape's rectangle, premultiplied, over the
// colour: a transparent image still covers.
float4 PSFinalCoverImage(VertBoard v_in) : TARGET
{
	float2 uv = (v_in.local - shape_rect.xy) / max(shape_rect.zw - shape_rect.xy, float2(1.0, 1.0));
	float4 t = read_image(uv);
	return covered(t.rgb + cover_color.rgb * (1.0 - t.a), v_in.local);
}

// Inverted: the image over the canvas.
float4 PSFinalCoverImageCanvas(VertBoard v_in) : TARGET
{
	float4 t = read_image(v_in.uv * cap_inv_size);
	return covered(t.rgb + cover_color.rgb * (1.0 - t.a), v_in.local);
}

float4 PSHatch(VertData v_in) : TARGET
{
	// A tenth of a pixel off the bands' edges: pixel centres of an item at
	// scale 1 (or 2) land on them exactly, and which side they fell on was
	// up to the last bit of the renderer's interpolation (Direct3D 11 and
	// OpenGL differed).
	float band = floor((v_in.uv.x + v_in.uv.y + 0.1) / 24.0);
	float odd = band - 2.0 * floor(band * 0.5);
	// Opaque dark grey between the bands: nothing beneath shows through.
	return lerp(float4(0.12, 0.12, 0.12, 1.0), hatch_color, odd);
}

technique Down { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSDown(v_in); } }
technique Blur { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur(v_in); } }
technique Blur1 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur1(v_in); } }
technique Blur2 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur2(v_in); } }
technique Blur3 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur3(v_in); } }
technique Blur4 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur4(v_in); } }
technique Blur5 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur5(v_in); } }
technique Blur6 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur6(v_in); } }
technique Blur7 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur7(v_in); } }
technique Blur8 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur8(v_in); } }
technique Blur9 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur9(v_in); } }
technique Blur10 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur10(v_in); } }
technique Blur11 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur11(v_in); } }
technique Blur12 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur12(v_in); } }
technique Halve { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSHalve(v_in); } }
technique Halve8 { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSHalve8(v_in); } }
technique Reduce { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSReduce(v_in); } }
technique ReducePoint { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSReducePoint(v_in); } }
technique FinalBlur { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSFinalBlur(v_in); } }
technique FinalMosaic { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSFinalMosaic(v_in); } }
technique FinalBlurShaped { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalBlurShaped(v_in); } }
technique FinalMosaicShaped { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalMosaicShaped(v_in); } }
technique FinalCover { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalCover(v_in); } }
technique FinalCoverImage { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalCoverImage(v_in); } }
technique FinalCoverImageCanvas { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalCoverImageCanvas(v_in); } }
technique Hatch { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSHatch(v_in); } }
)EFFECT";
