// The equalizer's cascade of up to eight sections as a pipeline across vector
// lanes: lane s holds section s, and at each step section s filters the
// sample that section s - 1 finished at the step before. A sample entering
// the first of k sections leaves the last one k - 1 steps later.
//
// Every lane runs biquadSample's operations, in its order and with its
// non-finite restart, on its own section's state, so each section sees the
// same inputs and rounds the same way as in the scalar cascade: the output is
// bit-identical. What changes is the cost: one vector operation does a step's
// work for four sections, and the sections no longer wait for each other
// within a sample.
//
// Vector lanes honour the floating-point environment as scalar operations do
// on x86-64 (SSE) and AArch64. ARMv7's NEON flushes subnormals whatever the
// mode, and without NEON the lanes would be done one by one anyway, so other
// targets keep the scalar cascade (kBiquadLanePipelineUsed).
//
// Internal to the library and its chain; not installed.
#ifndef LYRANE_BIQUADLANEPIPELINE_H
#define LYRANE_BIQUADLANEPIPELINE_H

#include <cstddef>
#include <cstdint>

#include "lyrane_detail/BiquadKernel.h"

namespace lyrane {

#if defined(__SSE2__) || defined(__aarch64__)
constexpr bool kBiquadLanePipelineUsed = true;
#else
constexpr bool kBiquadLanePipelineUsed = false;
#endif

constexpr std::size_t kBiquadLanePipelineMaxSections = 8;

// kSections: the count of sections when known at compile time, which lets
// the last section's lane be read without a trip through memory (0: any
// count up to kBiquadLanePipelineMaxSections).
template <std::size_t kSections = 0>
class BiquadLanePipeline {
  public:
    // Takes the sections (sections of them; kSections if that is not 0) with
    // their current states; store() gives the states back.
    BiquadLanePipeline(const BiquadCoefficients<float>* coefficients,
                       const BiquadState<float>* states, std::size_t sections)
        : countedLast(sections - 1) {
        for (std::size_t s = 0; s <= delay(); ++s) {
            Float4* const lane[] = {&b0[s / 4], &b1[s / 4], &b2[s / 4], &a1[s / 4],
                                    &a2[s / 4], &w1[s / 4], &w2[s / 4]};
            const float value[] = {coefficients[s].b0, coefficients[s].b1, coefficients[s].b2,
                                   coefficients[s].a1, coefficients[s].a2, states[s].w1,
                                   states[s].w2};
            for (std::size_t k = 0; k < 7; ++k)
                (*lane[k])[s % 4] = value[k];
        }
    }

    void store(BiquadState<float>* states) const {
        for (std::size_t s = 0; s <= delay(); ++s)
            states[s] = {w1[s / 4][s % 4], w2[s / 4][s % 4]};
    }

    // Filters in[0 .. n - 1] and hands each sample j, in order, to
    // leave(j, gain * y) as it leaves the last section with y (the
    // equalizer's broadband gain, here so that leave is called without a
    // wrapper the compiler may not see through); the last one leaves before
    // run returns. A sample leaves delay() steps after it entered, so in[j]
    // has been read when sample j leaves: leave may write out[j] into the
    // same buffer.
    template <class Leave>
    void run(const float* in, std::size_t n, float gain, Leave&& leave) {
        const std::size_t d = delay();
        // While the first samples fill the sections none leaves; the last
        // ones leave after the input has ended.
        for (std::size_t t = 0; t < d; ++t)
            stepAtEdge(t < n ? in[t] : 0.0f, t, n);
        for (std::size_t t = d; t < n; ++t)
            leave(t - d, gain * step(in[t]));
        for (std::size_t t = n > d ? n : d; t < n + d; ++t)
            leave(t - d, gain * stepAtEdge(0.0f, t, n));
    }

    // Steps from a sample's entry to its leaving; also the last section's
    // index.
    std::size_t delay() const { return kSections ? kSections - 1 : countedLast; }

  private:
    typedef float Float4 __attribute__((vector_size(16)));
    typedef int32_t Int4 __attribute__((vector_size(16)));

    // A step with every section at work: x enters; returns the sample that
    // leaves the last section.
    float step(float x) {
        feed(x);
        filter<false>(0, 0);
        return leaving();
    }

    // A step at the edge of a run of samples 0 .. n - 1 fed at steps 0 .. n - 1:
    // only the sections whose sample at step t is one of the run (section s
    // has sample t - s) change their state. x enters when t < n.
    float stepAtEdge(float x, std::size_t t, std::size_t n) {
        feed(x);
        // Sections newest .. oldest hold samples 0 .. n - 1; clamped to the
        // lanes, so that no count can overflow.
        const std::size_t lanes = kBiquadLanePipelineMaxSections;
        const int32_t newest = static_cast<int32_t>(t < lanes ? t : lanes);
        const int32_t oldest = static_cast<int32_t>(t + 1 > n ? t + 1 - n : 0);
        filter<true>(newest, oldest);
        return leaving();
    }

    // A vector cast keeps the bits.
    static Int4 bitsOf(Float4 v) { return (Int4)v; }

    // Each section takes the previous step's output of the section before.
    void feed(float x) {
        // Rotated by one lane, then the lowest lane replaced: one shuffle
        // and one move each on SSE.
        const Float4 entering = {x, 0.0f, 0.0f, 0.0f};
        const Float4 lowRotated = __builtin_shufflevector(y[0], y[0], 3, 0, 1, 2);
        const Float4 highRotated = __builtin_shufflevector(y[1], y[1], 3, 0, 1, 2);
        in[0] = __builtin_shufflevector(lowRotated, entering, 4, 1, 2, 3);
        in[1] = __builtin_shufflevector(highRotated, lowRotated, 4, 1, 2, 3);
    }

    float leaving() const { return y[delay() / 4][delay() % 4]; }

    template <bool kEdge>
    void filter(int32_t newest, int32_t oldest) {
        for (std::size_t h = 0; h < 2; ++h) {
            const Float4 w = (in[h] - a1[h] * w1[h]) - a2[h] * w2[h];
            y[h] = ((b2[h] * w2[h]) + b1[h] * w1[h]) + b0[h] * w;
            // w - w is 0 exactly for a finite w, NaN otherwise.
            const Int4 finite = (w - w) == Float4{};
            Int4 nextW1 = bitsOf(w) & finite;
            Int4 nextW2 = bitsOf(w1[h]) & finite;
            if (kEdge) {
                const Int4 section = Int4{0, 1, 2, 3} + static_cast<int32_t>(4 * h);
                const Int4 working = (section <= newest) & (section >= oldest);
                nextW1 = (nextW1 & working) | (bitsOf(w1[h]) & ~working);
                nextW2 = (nextW2 & working) | (bitsOf(w2[h]) & ~working);
            }
            w1[h] = (Float4)nextW1;
            w2[h] = (Float4)nextW2;
        }
    }

    // The last section's index when kSections is 0.
    const std::size_t countedLast;
    // Lane s % 4 of element s / 4 is section s; lanes past the last section
    // have zero coefficients and feed nothing that leaves.
    Float4 b0[2] = {}, b1[2] = {}, b2[2] = {}, a1[2] = {}, a2[2] = {};
    Float4 w1[2] = {}, w2[2] = {};
    Float4 in[2] = {};
    Float4 y[2] = {};
};

}  // namespace lyrane

#endif  // LYRANE_BIQUADLANEPIPELINE_H
