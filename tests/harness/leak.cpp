// SPDX-License-Identifier: GPL-2.0-or-later
#include "harness/leak.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <utility>

namespace harness {

namespace {

// Detail finer than a letter: what a Gaussian of 2 pixels takes away.
constexpr double kDetailSigma = 2.0;

double linear(uint8_t v)
{
	const double c = v / 255.0;
	return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double green(const Image &img, int x, int y)
{
	x = std::clamp(x, 0, int(img.width) - 1);
	y = std::clamp(y, 0, int(img.height) - 1);
	return linear(img.at(uint32_t(x), uint32_t(y))[1]);
}

std::vector<double> kernel(double sigma)
{
	const int r = int(std::ceil(3.5 * sigma));
	std::vector<double> k(static_cast<size_t>(2 * r + 1));
	double total = 0;
	for (int i = -r; i <= r; ++i)
		total += k[size_t(i + r)] = std::exp(-0.5 * i * i / (sigma * sigma));
	for (double &v : k)
		v /= total;
	return k;
}

// v less its Gaussian blur along a row of n values, every `stride` apart.
void high_pass(double *v, int n, int stride, const std::vector<double> &k)
{
	const int r = int(k.size() / 2);
	std::vector<double> row(static_cast<size_t>(n));
	for (int i = 0; i < n; ++i)
		row[size_t(i)] = v[size_t(i) * stride];
	for (int i = 0; i < n; ++i) {
		double low = 0;
		for (int j = -r; j <= r; ++j)
			low += k[size_t(j + r)] * row[size_t(std::clamp(i + j, 0, n - 1))];
		v[size_t(i) * stride] = row[size_t(i)] - low;
	}
}

double correlation(const std::vector<double> &a, const std::vector<double> &b)
{
	double ma = 0, mb = 0;
	for (size_t i = 0; i < a.size(); ++i) {
		ma += a[i];
		mb += b[i];
	}
	ma /= double(a.size());
	mb /= double(b.size());
	double ab = 0, aa = 0, bb = 0;
	for (size_t i = 0; i < a.size(); ++i) {
		ab += (a[i] - ma) * (b[i] - mb);
		aa += (a[i] - ma) * (a[i] - ma);
		bb += (b[i] - mb) * (b[i] - mb);
	}
	return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

using Complex = std::complex<double>;

// In-place radix-2 transform of n values every `stride` apart (n a power of two).
void fft(Complex *v, int n, int stride, bool inverse)
{
	for (int i = 1, j = 0; i < n; ++i) {
		int bit = n >> 1;
		for (; j & bit; bit >>= 1)
			j ^= bit;
		j ^= bit;
		if (i < j)
			std::swap(v[size_t(i) * stride], v[size_t(j) * stride]);
	}
	for (int len = 2; len <= n; len <<= 1) {
		const double angle = 2 * M_PI / len * (inverse ? 1 : -1);
		const Complex w(std::cos(angle), std::sin(angle));
		for (int i = 0; i < n; i += len) {
			Complex wn(1);
			for (int j = 0; j < len / 2; ++j, wn *= w) {
				Complex &a = v[size_t(i + j) * stride], &b = v[size_t(i + j + len / 2) * stride];
				const Complex t = b * wn;
				b = a - t;
				a += t;
			}
		}
	}
	if (inverse)
		for (int i = 0; i < n; ++i)
			v[size_t(i) * stride] /= n;
}

void fft2(std::vector<Complex> &v, int w, int h, bool inverse)
{
	for (int y = 0; y < h; ++y)
		fft(&v[size_t(y) * w], w, 1, inverse);
	for (int x = 0; x < w; ++x)
		fft(&v[size_t(x)], h, w, inverse);
}

int power_of_two_below(int n)
{
	int p = 1;
	while (p * 2 <= n)
		p *= 2;
	return p;
}

} // namespace

double motion_leak(const std::vector<Image> &frames, const Image &text, Area area, int cell)
{
	const int c = cell;
	const int kx0 = (area.x0 + c - 1) / c, kx1 = area.x1 / c;
	const int ky0 = (area.y0 + c - 1) / c, ky1 = area.y1 / c;
	if (int(frames.size()) < c || kx1 - kx0 < 4 || ky1 <= ky0)
		return 0.0;
	const std::vector<double> k = kernel(kDetailSigma);
	std::vector<double> gave, own;
	for (int j = ky0; j < ky1; ++j) {
		// R[x0 - base]: the cell's value with its left edge at text column x0.
		const int base = kx0 * c - (c - 1), len = (kx1 - kx0) * c;
		std::vector<double> r(static_cast<size_t>(len));
		for (int kx = kx0; kx < kx1; ++kx)
			for (int s = 0; s < c; ++s)
				r[size_t(kx * c - s - base)] = green(frames[size_t(s)], kx * c + c / 2, j * c + c / 2);
		// The text's own columns over the cell's rows.
		auto column = [&](int x) {
			double sum = 0;
			for (int y = j * c; y < (j + 1) * c; ++y)
				sum += green(text, x, y);
			return sum / c;
		};
		std::vector<double> a(static_cast<size_t>(len - 1)), d(static_cast<size_t>(len - 1));
		for (int i = 0; i + 1 < len; ++i) {
			a[size_t(i)] = c * (r[size_t(i + 1)] - r[size_t(i)]);
			d[size_t(i)] = column(base + i + c) - column(base + i);
		}
		high_pass(a.data(), len - 1, 1, k);
		high_pass(d.data(), len - 1, 1, k);
		gave.insert(gave.end(), a.begin() + c, a.end() - c);
		own.insert(own.end(), d.begin() + c, d.end() - c);
	}
	return correlation(gave, own);
}

double deconvolution_leak(const Image &frame, const Image &text, Area area, float sigma)
{
	const int w = power_of_two_below(area.x1 - area.x0), h = power_of_two_below(area.y1 - area.y0);
	const int ox = (area.x0 + area.x1 - w) / 2, oy = (area.y0 + area.y1 - h) / 2;
	// Mirrored to twice the size, so the transform sees no edge.
	const int W = 2 * w, H = 2 * h;
	std::vector<Complex> spectrum(size_t(W) * H);
	for (int y = 0; y < H; ++y)
		for (int x = 0; x < W; ++x) {
			const int sx = x < w ? x : W - 1 - x, sy = y < h ? y : H - 1 - y;
			spectrum[size_t(y) * W + x] = green(frame, ox + sx, oy + sy);
		}
	fft2(spectrum, W, H, false);

	const std::vector<double> k = kernel(kDetailSigma);
	auto detail = [&](std::vector<double> img) {
		for (int y = 0; y < h; ++y)
			high_pass(&img[size_t(y) * w], w, 1, k);
		for (int x = 0; x < w; ++x)
			high_pass(&img[size_t(x)], h, w, k);
		std::vector<double> inner;
		for (int y = 16; y < h - 16; ++y)
			for (int x = 16; x < w - 16; ++x)
				inner.push_back(img[size_t(y) * w + x]);
		return inner;
	};
	std::vector<double> own(size_t(w) * h);
	for (int y = 0; y < h; ++y)
		for (int x = 0; x < w; ++x)
			own[size_t(y) * w + x] = green(text, ox + x, oy + y);
	const std::vector<double> own_detail = detail(own);

	double best = -1.0;
	for (double noise : {1e-4, 1e-3, 1e-2, 3e-2, 1e-1}) {
		std::vector<Complex> v = spectrum;
		for (int y = 0; y < H; ++y)
			for (int x = 0; x < W; ++x) {
				const double fx = double(x < W / 2 ? x : x - W) / W,
					     fy = double(y < H / 2 ? y : y - H) / H;
				const double g =
				    std::exp(-2 * M_PI * M_PI * double(sigma) * sigma * (fx * fx + fy * fy));
				v[size_t(y) * W + x] *= g / (g * g + noise);
			}
		fft2(v, W, H, true);
		std::vector<double> back(size_t(w) * h);
		for (int y = 0; y < h; ++y)
			for (int x = 0; x < w; ++x)
				back[size_t(y) * w + x] = v[size_t(y) * W + x].real();
		best = std::max(best, correlation(detail(back), own_detail));
	}
	return best;
}

} // namespace harness
