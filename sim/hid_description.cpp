// SPDX-License-Identifier: Apache-2.0
#include "sim/hid_description.h"

#include <linux/hiddev.h>

#include "sim/trovsim.h"

namespace trovsim {

namespace {

HidField make_field(std::vector<unsigned> usages, int minimum, int maximum, unsigned application)
{
    HidField field;
    field.usages = std::move(usages);
    field.logical_minimum = minimum;
    field.logical_maximum = maximum;
    field.flags = HID_FIELD_VARIABLE;
    field.application = application;
    field.values.assign(field.usages.size(), 0);
    return field;
}

std::vector<HidReport> *reports_of(HidDescription &description, unsigned report_type)
{
    if (report_type < HID_REPORT_TYPE_MIN || report_type > HID_REPORT_TYPE_MAX) {
        return nullptr;
    }
    return &description.reports[report_type - HID_REPORT_TYPE_MIN];
}

}  // namespace

HidReport *HidDescription::find_report(unsigned report_type, unsigned report_id, unsigned *resolved_id)
{
    std::vector<HidReport> *list = reports_of(*this, report_type);
    if (list == nullptr) {
        return nullptr;
    }
    const unsigned flags = report_id & ~static_cast<unsigned>(HID_REPORT_ID_MASK);
    const unsigned id = report_id & HID_REPORT_ID_MASK;
    auto by_id = [list](unsigned wanted) -> HidReport * {
        for (HidReport &report : *list) {
            if (report.id == wanted) {
                return &report;
            }
        }
        return nullptr;
    };
    HidReport *found = nullptr;
    switch (flags) {
    case 0:
        found = by_id(id);
        break;
    case HID_REPORT_ID_FIRST:
        found = list->empty() ? nullptr : &list->front();
        break;
    case HID_REPORT_ID_NEXT: {
        // The report after the one with the low byte's id; without that report there is no next.
        HidReport *current = by_id(id);
        if (current != nullptr && current != &list->back()) {
            found = current + 1;
        }
        break;
    }
    default:
        break;
    }
    if (found != nullptr) {
        *resolved_id = found->id;
    }
    return found;
}

HidField *HidDescription::find_usage(unsigned report_type, unsigned usage_code, unsigned *report_id,
                                     unsigned *field_index, unsigned *usage_index)
{
    std::vector<HidReport> *list = reports_of(*this, report_type);
    if (list == nullptr) {
        return nullptr;
    }
    for (HidReport &report : *list) {
        for (std::size_t f = 0; f < report.fields.size(); ++f) {
            HidField &field = report.fields[f];
            for (std::size_t u = 0; u < field.usages.size(); ++u) {
                if (field.usages[u] == usage_code) {
                    *report_id = report.id;
                    *field_index = static_cast<unsigned>(f);
                    *usage_index = static_cast<unsigned>(u);
                    return &field;
                }
            }
        }
    }
    return nullptr;
}

HidDescription keyboard_description(unsigned faults)
{
    HidDescription d;
    d.applications = {KEYBOARD_APPLICATION};

    HidReport input;
    input.id = KEYBOARD_REPORT_ID;
    input.fields.push_back(make_field({KEYBOARD_FIRST_INPUT, KEYBOARD_FIRST_INPUT + 1, KEYBOARD_FIRST_INPUT + 2,
                                       KEYBOARD_FIRST_INPUT + 3},
                                      -128, 127, KEYBOARD_APPLICATION));
    d.reports[HID_REPORT_TYPE_INPUT - 1].push_back(input);

    HidReport output;
    output.id = KEYBOARD_REPORT_ID;
    if ((faults & TROVSIM_FAULT_USAGE_LATER_FIELD) != 0) {
        output.fields.push_back(make_field({KEYBOARD_OTHER_OUTPUT}, -128, 127, KEYBOARD_APPLICATION));
        output.fields.push_back(make_field({KEYBOARD_OUTPUT}, -128, 127, KEYBOARD_APPLICATION));
    } else if ((faults & TROVSIM_FAULT_NO_OUTPUT_USAGE) != 0) {
        output.fields.push_back(make_field({KEYBOARD_OTHER_OUTPUT}, -128, 127, KEYBOARD_APPLICATION));
    } else {
        output.fields.push_back(make_field({KEYBOARD_OUTPUT}, -128, 127, KEYBOARD_APPLICATION));
    }
    d.reports[HID_REPORT_TYPE_OUTPUT - 1].push_back(output);
    return d;
}

HidDescription generic_keyboard_description()
{
    // A boot keyboard without numbered reports: modifier bits in, LED bits out.
    HidDescription d;
    d.applications = {GENERIC_KEYBOARD_APPLICATION};
    HidReport input;
    std::vector<unsigned> modifiers;
    for (unsigned usage = 0x000700E0u; usage <= 0x000700E7u; ++usage) {
        modifiers.push_back(usage);
    }
    input.fields.push_back(make_field(modifiers, 0, 1, GENERIC_KEYBOARD_APPLICATION));
    input.fields.back().bits = 1;
    d.reports[HID_REPORT_TYPE_INPUT - 1].push_back(input);
    HidReport output;
    std::vector<unsigned> leds;
    for (unsigned usage = 0x00080001u; usage <= 0x00080005u; ++usage) {
        leds.push_back(usage);
    }
    output.fields.push_back(make_field(leds, 0, 1, GENERIC_KEYBOARD_APPLICATION));
    output.fields.back().bits = 1;
    d.reports[HID_REPORT_TYPE_OUTPUT - 1].push_back(output);
    return d;
}

std::uint32_t encode_output_value(const HidField &field, std::int32_t value)
{
    const unsigned n = field.bits;
    const std::uint32_t mask = n >= 32 ? 0xFFFFFFFFu : (1u << n) - 1u;
    if (field.logical_minimum < 0 && n < 32) {
        const std::int32_t high = value >> (n - 1);
        if (high != 0 && high != -1) {
            return value < 0 ? 1u << (n - 1) : (1u << (n - 1)) - 1u;
        }
    }
    return static_cast<std::uint32_t>(value) & mask;
}

}  // namespace trovsim
