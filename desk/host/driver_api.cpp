#include "driver_api.h"

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include <sstream>

#include "ini_values.h"

namespace host {

const char *const table_names[8] = {"pan limits", "tilt limits", "zoom and field angle", "focus",
                                    "iris",       "brightness",  "flips",                "driver parameters"};

namespace {

template <typename F>
void find(const char *name, F *slot, std::string *missing) {
    void *p = dlsym(RTLD_DEFAULT, name);
    if (p == nullptr) {
        *missing += *missing == "" ? name : std::string(", ") + name;
        return;
    }
    *slot = reinterpret_cast<F>(p);
}

}  // namespace

bool resolve_driver(DriverApi *api, std::string *error) {
    std::string missing;
    find("driver_get_info", &api->get_info, &missing);
    find("driver_setup", &api->setup, &missing);
    find("driver_poll", &api->poll, &missing);
    find("driver_teardown", &api->teardown, &missing);
    find("driver_param_changed", &api->param_changed, &missing);
    find("driver_move_cont", &api->move_cont, &missing);
    find("driver_stop", &api->stop, &missing);
    find("driver_move_rel", &api->move_rel, &missing);
    find("driver_set_device_preset", &api->set_device_preset, &missing);
    find("driver_goto_device_preset", &api->goto_device_preset, &missing);
    find("driver_device_preset_range", &api->device_preset_range, &missing);
    find("driver_set_speed", &api->set_speed, &missing);
    find("driver_get_speed", &api->get_speed, &missing);
    find("driver_bar_ranges", &api->bar_ranges, &missing);
    find("driver_pan_flipped", &api->pan_flipped, &missing);
    find("driver_tilt_flipped", &api->tilt_flipped, &missing);
    find("driver_zoom_compensation", &api->zoom_compensation, &missing);
    find("driver_current_field_angle", &api->current_field_angle, &missing);
    find("driver_autofocus", &api->autofocus, &missing);
    find("driver_autoiris", &api->autoiris, &missing);
    find("driver_backlight", &api->backlight, &missing);
    find("driver_ircutfilter", &api->ircutfilter, &missing);
    find("driver_auxiliary", &api->auxiliary, &missing);
    find("driver_osdmenu", &api->osdmenu, &missing);
    if (!missing.empty()) {
        *error = "the driver program does not export " + missing;
        return false;
    }
    return true;
}

Descriptor read_descriptor(const DriverApi &api) {
    Descriptor d;
    api.get_info(&d.name, &d.version, &d.caps, &d.tables[0], &d.tables[1], &d.tables[2], &d.tables[3],
                 &d.tables[4], &d.tables[5], &d.tables[6], &d.tables[7], &d.count, &d.port, &d.item,
                 &d.host_word);
    return d;
}

std::vector<ParamInfo> param_entries(const Descriptor &d, std::vector<std::string> *problems) {
    std::vector<ParamInfo> params;
    for (int t = 0; t < 8; ++t) {
        const param_descriptor *e = d.tables[t];
        if (e == nullptr) {
            problems->push_back(std::string("no table for ") + table_names[t]);
            continue;
        }
        for (; e->kind != 0; ++e) {
            ParamInfo s;
            s.key = e->key != nullptr ? e->key : "";
            s.label = e->label != nullptr ? e->label : "";
            s.def = e->def != nullptr ? e->def : "";
            s.range = e->range != nullptr ? e->range : "";
            s.table = t;
            if (e->kind == 4) {
                s.boolean = true;
            } else if (e->kind == 3) {
                const size_t dots = s.range.find("..");
                if (dots == std::string::npos || !ini::read_long(s.range.substr(0, dots), &s.low) ||
                    !ini::read_long(s.range.substr(dots + 2), &s.high)) {
                    problems->push_back("key " + s.key + ": range '" + s.range + "' not understood");
                    continue;
                }
            } else {
                problems->push_back("key " + s.key + ": unknown kind " + std::to_string(e->kind));
                continue;
            }
            if (s.key.empty()) {
                problems->push_back(std::string("an entry of ") + table_names[t] + " has no key");
                continue;
            }
            params.push_back(s);
        }
    }
    return params;
}

std::string describe_descriptor(const Descriptor &d) {
    std::ostringstream out;
    char buf[128];
    out << "driver " << (d.name ? d.name : "?") << " version " << (d.version ? d.version : "?") << "\n";
    if (d.caps != nullptr) {
        snprintf(buf, sizeof buf, "capabilities 0x%08X 0x%08X, parameter count %d\n", d.caps[0], d.caps[1],
                 d.count);
        out << buf;
    }
    if (d.port != nullptr) {
        out << "port " << (d.port->type ? d.port->type : "?") << " " << d.port->baud << " baud, "
            << d.port->data_bits << " data bits, " << d.port->stop_bits << " stop bit(s), parity "
            << (d.port->parity ? d.port->parity : "?") << "\n";
    }
    for (int t = 0; t < 8; ++t) {
        out << table_names[t] << ":\n";
        for (const param_descriptor *e = d.tables[t]; e != nullptr && e->kind != 0; ++e) {
            const std::string label = e->label != nullptr && *e->label ? std::string(" \"") + e->label + "\"" : "";
            snprintf(buf, sizeof buf, "  %-22s %-8s default %-6s %s%s\n", e->key ? e->key : "?",
                     e->kind == 4 ? "boolean" : "integer", e->def ? e->def : "?",
                     e->range && *e->range ? e->range : "", label.c_str());
            out << buf;
        }
    }
    return out.str();
}

}  // namespace host
