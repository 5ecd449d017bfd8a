// SPDX-License-Identifier: Apache-2.0
#include "sim/hiddev_ioctl.h"

#include <cerrno>
#include <cstring>
#include <linux/hiddev.h>
#include <linux/input.h>

#include "sim/trovsim.h"

namespace trovsim {

namespace {

// The longest string HIDIOCGSTRING returns, leaving room for the terminating zero.
constexpr std::size_t STRING_MAX = HID_STRING_SIZE - 1;

long get_report_info(HiddevDevice &device, hiddev_report_info *info)
{
    unsigned id = 0;
    const HidReport *report = device.description.find_report(info->report_type, info->report_id, &id);
    if (report == nullptr) {
        return -EINVAL;
    }
    info->report_id = id;
    info->num_fields = static_cast<unsigned>(report->fields.size());
    return 0;
}

long get_field_info(HiddevDevice &device, hiddev_field_info *info)
{
    unsigned id = 0;
    const unsigned type = info->report_type;
    const HidReport *report = device.description.find_report(type, info->report_id, &id);
    if (report == nullptr || info->field_index >= report->fields.size()) {
        return -EINVAL;
    }
    const HidField &field = report->fields[info->field_index];
    std::memset(info, 0, sizeof *info);
    info->report_type = type;
    info->report_id = id;
    // The kernel answers the field's report count less one here, not the index asked for.
    info->field_index = static_cast<unsigned>(field.usages.size()) - 1;
    info->maxusage = static_cast<unsigned>(field.usages.size());
    info->flags = field.flags;
    info->application = field.application;
    info->logical_minimum = field.logical_minimum;
    info->logical_maximum = field.logical_maximum;
    return 0;
}

// The field a usage reference names, or null. The reference's report id may carry the FIRST/NEXT flags.
HidField *referenced_field(HiddevDevice &device, const hiddev_usage_ref &ref)
{
    unsigned id = 0;
    HidReport *report = device.description.find_report(ref.report_type, ref.report_id, &id);
    if (report == nullptr || ref.field_index >= report->fields.size()) {
        return nullptr;
    }
    return &report->fields[ref.field_index];
}

long get_usage_code(HiddevDevice &device, hiddev_usage_ref *ref)
{
    const HidField *field = referenced_field(device, *ref);
    if (field == nullptr || ref->usage_index >= field->usages.size()) {
        return -EINVAL;
    }
    ref->usage_code = field->usages[ref->usage_index];
    return 0;
}

long set_usage(HiddevDevice &device, const hiddev_usage_ref *ref)
{
    if (ref->report_type == HID_REPORT_TYPE_INPUT) {
        return -EINVAL;
    }
    HidField *field = nullptr;
    unsigned usage_index = ref->usage_index;
    if (ref->report_id == HID_REPORT_ID_UNKNOWN) {
        unsigned report_id = 0;
        unsigned field_index = 0;
        field = device.description.find_usage(ref->report_type, ref->usage_code, &report_id, &field_index,
                                              &usage_index);
    } else {
        field = referenced_field(device, *ref);
    }
    if (field == nullptr || usage_index >= field->values.size()) {
        return -EINVAL;
    }
    field->values[usage_index] = ref->value;
    return 0;
}

long get_report(HiddevDevice &device, const hiddev_report_info *info)
{
    unsigned id = 0;
    if (info->report_type == HID_REPORT_TYPE_OUTPUT ||
        device.description.find_report(info->report_type, info->report_id, &id) == nullptr) {
        return -EINVAL;
    }
    return (device.faults & TROVSIM_FAULT_GREPORT) != 0 ? -EIO : 0;
}

long set_report(HiddevDevice &device, const hiddev_report_info *info, const HidReport **sent)
{
    unsigned id = 0;
    if (info->report_type == HID_REPORT_TYPE_INPUT) {
        return -EINVAL;
    }
    const HidReport *report = device.description.find_report(info->report_type, info->report_id, &id);
    if (report == nullptr) {
        return -EINVAL;
    }
    *sent = report;
    return 0;
}

long get_string(const HiddevDevice &device, hiddev_string_descriptor *descriptor)
{
    // The driver answers the device's USB string descriptors by index: 1 and 2 exist here.
    if (descriptor->index != 1 && descriptor->index != 2) {
        return -EINVAL;
    }
    const std::string &text = descriptor->index == 1 ? device.name : device.productName;
    const std::size_t length = text.size() < STRING_MAX ? text.size() : STRING_MAX;
    std::memcpy(descriptor->value, text.data(), length);
    descriptor->value[length] = '\0';
    return static_cast<long>(length);
}

long get_device_info(const HiddevDevice &device, hiddev_devinfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->bustype = BUS_USB;
    info->busnum = device.busnum;
    info->devnum = device.devnum;
    info->ifnum = 0;
    info->vendor = static_cast<__s16>(device.vendor);
    info->product = static_cast<__s16>(device.product);
    info->version = static_cast<__s16>(device.version);
    info->num_applications = static_cast<unsigned>(device.description.applications.size());
    return 0;
}

}  // namespace

int classify_request(unsigned long request)
{
    switch (request) {
    case HIDIOCGVERSION: return TROVSIM_REQ_GVERSION;
    case HIDIOCAPPLICATION: return TROVSIM_REQ_APPLICATION;
    case HIDIOCGDEVINFO: return TROVSIM_REQ_GDEVINFO;
    case HIDIOCGSTRING: return TROVSIM_REQ_GSTRING;
    case HIDIOCINITREPORT: return TROVSIM_REQ_INITREPORT;
    case HIDIOCGREPORT: return TROVSIM_REQ_GREPORT;
    case HIDIOCSREPORT: return TROVSIM_REQ_SREPORT;
    case HIDIOCGREPORTINFO: return TROVSIM_REQ_GREPORTINFO;
    case HIDIOCGFIELDINFO: return TROVSIM_REQ_GFIELDINFO;
    case HIDIOCSUSAGE: return TROVSIM_REQ_SUSAGE;
    case HIDIOCGUCODE: return TROVSIM_REQ_GUCODE;
    default: return TROVSIM_REQ_OTHER_IOCTL;
    }
}

long hiddev_ioctl(HiddevDevice &device, unsigned long request, void *arg, const HidReport **sent)
{
    *sent = nullptr;
    const int kind = classify_request(request);
    if (kind == TROVSIM_REQ_OTHER_IOCTL) {
        return -EINVAL;
    }
    if (kind == TROVSIM_REQ_APPLICATION) {
        // The index travels as the argument itself; the answer is the usage, as the return value.
        const unsigned long index = reinterpret_cast<unsigned long>(arg);
        const std::vector<unsigned> &applications = device.description.applications;
        return index < applications.size() ? static_cast<int>(applications[index]) : -EINVAL;
    }
    if (kind == TROVSIM_REQ_INITREPORT) {
        return (device.faults & TROVSIM_FAULT_INITREPORT) != 0 ? -EIO : 0;
    }
    if (arg == nullptr) {
        return -EFAULT;
    }
    switch (kind) {
    case TROVSIM_REQ_GVERSION:
        *static_cast<int *>(arg) = HID_VERSION;
        return 0;
    case TROVSIM_REQ_GDEVINFO:
        if ((device.faults & TROVSIM_FAULT_GDEVINFO) != 0) {
            return -EIO;
        }
        return get_device_info(device, static_cast<hiddev_devinfo *>(arg));
    case TROVSIM_REQ_GSTRING:
        return get_string(device, static_cast<hiddev_string_descriptor *>(arg));
    case TROVSIM_REQ_GREPORT:
        return get_report(device, static_cast<const hiddev_report_info *>(arg));
    case TROVSIM_REQ_SREPORT:
        return set_report(device, static_cast<const hiddev_report_info *>(arg), sent);
    case TROVSIM_REQ_GREPORTINFO:
        return get_report_info(device, static_cast<hiddev_report_info *>(arg));
    case TROVSIM_REQ_GFIELDINFO:
        return get_field_info(device, static_cast<hiddev_field_info *>(arg));
    case TROVSIM_REQ_SUSAGE:
        return set_usage(device, static_cast<const hiddev_usage_ref *>(arg));
    case TROVSIM_REQ_GUCODE:
        return get_usage_code(device, static_cast<hiddev_usage_ref *>(arg));
    default:
        return -EINVAL;
    }
}

}  // namespace trovsim
