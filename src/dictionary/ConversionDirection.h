#pragma once

namespace fanjian {

// The two ways a run can go. Big5 holds Traditional text, GB2312 holds Simplified text.
enum class ConversionDirection {
    TraditionalToSimplified, // Big5 -> GB2312
    SimplifiedToTraditional, // GB2312 -> Big5
};

} // namespace fanjian
