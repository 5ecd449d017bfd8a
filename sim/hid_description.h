// SPDX-License-Identifier: Apache-2.0
// What a simulated HID device looks like to the hiddev driver: its application collections and its
// input/output/feature reports with their fields and usages, as the kernel's HID parser would have
// built them from the report descriptor. Also the stored values of the output fields (HIDIOCSUSAGE)
// and the report look-ups the driver answers requests with.
#ifndef TROVSIM_HID_DESCRIPTION_H
#define TROVSIM_HID_DESCRIPTION_H

#include <cstdint>
#include <vector>

namespace trovsim {

// The keyboard's vendor usages.
inline constexpr unsigned KEYBOARD_APPLICATION = 0xFFFA00A5u;
inline constexpr unsigned KEYBOARD_FIRST_INPUT = 0xFFFA00A6u;  // four input usages, one per byte
inline constexpr unsigned KEYBOARD_OUTPUT = 0xFFFA00ABu;       // one command byte per output report
inline constexpr unsigned KEYBOARD_OTHER_OUTPUT = 0xFFFA00ACu; // a vendor output usage that carries no command
inline constexpr unsigned KEYBOARD_REPORT_ID = 4;
inline constexpr unsigned GENERIC_KEYBOARD_APPLICATION = 0x00010006u;

struct HidField {
    std::vector<unsigned> usages;  // one per value (variable field: report count == usage count)
    int logical_minimum = 0;
    int logical_maximum = 0;
    unsigned flags = 0;            // HID_FIELD_* bits
    unsigned application = 0;
    unsigned bits = 8;             // size of each value in the report
    std::vector<std::int32_t> values;  // output values set by HIDIOCSUSAGE, sent by HIDIOCSREPORT
};

struct HidReport {
    unsigned id = 0;  // 0 for a device without numbered reports
    std::vector<HidField> fields;
};

struct HidDescription {
    std::vector<unsigned> applications;
    std::vector<HidReport> reports[3];  // indexed by HID_REPORT_TYPE_* - 1, in descriptor order

    // The report a hiddev report_type/report_id pair names, with the HID_REPORT_ID_FIRST and
    // HID_REPORT_ID_NEXT flags resolved the way the kernel does; *resolved_id receives the id of the
    // report found. Null when there is none.
    HidReport *find_report(unsigned report_type, unsigned report_id, unsigned *resolved_id);
    // The first usage of that report type equal to usage_code, for requests with HID_REPORT_ID_UNKNOWN.
    HidField *find_usage(unsigned report_type, unsigned usage_code, unsigned *report_id, unsigned *field_index,
                         unsigned *usage_index);
};

// Device descriptions; faults are trovsim_fault bits that change the keyboard's output report.
HidDescription keyboard_description(unsigned faults);
HidDescription generic_keyboard_description();

// The bits an output value occupies in the report, as the kernel encodes it: a signed field clamps
// out-of-range values to its extremes, an unsigned one keeps the low bits.
std::uint32_t encode_output_value(const HidField &field, std::int32_t value);

}  // namespace trovsim

#endif
