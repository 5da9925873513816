#include "render/board_effect.h"

// The board's effect program, in the host's effect dialect.
extern const char board_effect_text[] = R"EFFECT(
uniform float4x4 ViewProj;
uniform texture2d image;
uniform float2 uv_min;
uniform float2 uv_max;
uniform float2 blur_step;
uniform float blur_sigma;
uniform float blur_pairs;
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
uniform float2 board_size;
uniform float4 shape_rect;
uniform float shape_kind;
uniform float feather;

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
	v_out.local = v_in.uv * board_size;
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

// Up to 25 taps in 13 reads: each bilinear read sits between texels 2i-1
// and 2i by their weights; blur_pairs reads on each side reach 4 sigma.
float4 PSBlur(VertData v_in) : TARGET
{
	float k = -0.5 / (blur_sigma * blur_sigma);
	float4 sum = read_image(v_in.uv);
	float total = 1.0;
	for (int i = 1; i <= 6; i++) {
		if (float(i) > blur_pairs)
			break;
		float o1 = float(i * 2 - 1);
		float o2 = float(i * 2);
		float w1 = exp(o1 * o1 * k);
		float w2 = exp(o2 * o2 * k);
		float w = w1 + w2;
		float o = (o1 * w1 + o2 * w2) / max(w, 1e-20);
		sum += (read_image(v_in.uv + blur_step * o) + read_image(v_in.uv - blur_step * o)) * w;
		total += 2.0 * w;
	}
	return sum / total;
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

// Signed inside distance in pixels turned into coverage.
float shape_mask(float2 p)
{
	float2 c = (shape_rect.xy + shape_rect.zw) * 0.5;
	float2 r = max((shape_rect.zw - shape_rect.xy) * 0.5, float2(0.5, 0.5));
	float d;
	if (shape_kind > 0.5) {
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
	if (feather > 0.0)
		return saturate(d / feather);
	return saturate(d + 0.5);
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

float4 PSHatch(VertData v_in) : TARGET
{
	float band = floor((v_in.uv.x + v_in.uv.y) / 24.0);
	float odd = band - 2.0 * floor(band * 0.5);
	// Opaque dark grey between the bands: nothing beneath shows through.
	return lerp(float4(0.12, 0.12, 0.12, 1.0), hatch_color, odd);
}

technique Down { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSDown(v_in); } }
technique Blur { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSBlur(v_in); } }
technique Reduce { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSReduce(v_in); } }
technique ReducePoint { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSReducePoint(v_in); } }
technique FinalBlur { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSFinalBlur(v_in); } }
technique FinalMosaic { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSFinalMosaic(v_in); } }
technique FinalBlurShaped { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalBlurShaped(v_in); } }
technique FinalMosaicShaped { pass { vertex_shader = VSBoard(v_in); pixel_shader = PSFinalMosaicShaped(v_in); } }
technique Hatch { pass { vertex_shader = VSCanvas(v_in); pixel_shader = PSHatch(v_in); } }
)EFFECT";
