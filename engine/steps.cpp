#include "engine/steps.h"

namespace qb {

std::string_view StepText(std::uint16_t step) {
    for (const auto& info : kStepTable) {
        if (info.step == step) {
            return info.text;
        }
    }
    return {};
}

} // namespace qb
