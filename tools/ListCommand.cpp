// `zugen4 list`: every instrument the driver backends see, with what a user
// needs to choose one (index or serial number) and whether it is free.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <ostream>

#include "ToolContext.h"

namespace Zu::Tool {

namespace {

std::string JsonText(const std::string& s) {
  std::string out = "\"";
  for (const unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Padded(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

void PrintJson(std::ostream& out, const TFtDeviceList& list) {
  out << "{\"devices\": [";
  for (size_t i = 0; i < list.Devices.size(); ++i) {
    const TFtDeviceInfo& d = list.Devices[i];
    out << (i ? ", " : "") << "{\"index\": " << d.Index << ", \"serial\": " << JsonText(d.Serial)
        << ", \"description\": " << JsonText(d.Description) << ", \"busy\": " << (d.Busy ? "true" : "false")
        << ", \"backend\": " << JsonText(d.Backend) << "}";
  }
  out << "], \"problems\": [";
  for (size_t i = 0; i < list.Problems.size(); ++i) out << (i ? ", " : "") << JsonText(list.Problems[i]);
  out << "]}\n";
}

void PrintTable(std::ostream& out, const TFtDeviceList& list) {
  size_t serialWidth = 6, descriptionWidth = 11;
  for (const TFtDeviceInfo& d : list.Devices) {
    serialWidth = std::max(serialWidth, d.Serial.size());
    descriptionWidth = std::max(descriptionWidth, d.Description.size());
  }
  out << "INDEX  " << Padded("SERIAL", serialWidth) << "  " << Padded("DESCRIPTION", descriptionWidth)
      << "  STATE  BACKEND\n";
  for (const TFtDeviceInfo& d : list.Devices)
    out << Padded(std::to_string(d.Index), 5) << "  " << Padded(d.Serial.empty() ? "-" : d.Serial, serialWidth) << "  "
        << Padded(d.Description.empty() ? "-" : d.Description, descriptionWidth) << "  " << (d.Busy ? "busy " : "free ")
        << "  " << d.Backend << '\n';
}

void List(TToolContext& ctx, bool json) {
  TFtDeviceList list;
  if (ctx.Options().Sim)
    list.Devices.push_back({0, "SIM0001", "simulated instrument", false, "simulator"});
  else
    list = SystemPlatform().Driver->ListDevices();
  if (json)
    PrintJson(ctx.Out(), list);
  else if (!list.Devices.empty())
    PrintTable(ctx.Out(), list);
  // A backend that could not be asked is worth telling also when another one
  // found something.
  if (!list.Devices.empty()) {
    for (const std::string& p : list.Problems) ctx.Err() << "note: " << p << '\n';
    return;
  }
  std::string why = "no instrument found";
  for (const std::string& p : list.Problems) why += "\n  " + p;
  throw EToolError(ExitNoDevice, why);
}

}  // namespace

void AddListCommand(CLI::App& app, TToolContext& ctx) {
  auto json = std::make_shared<bool>(false);
  CLI::App* list = app.add_subcommand(
      "list", "The attached instruments: index, serial number, description, free or busy, driver backend");
  list->add_flag("--json", *json, "One JSON object: {\"devices\": [...], \"problems\": [...]}");
  list->footer("Example: zugen4 list; then zugen4 --device FT1234AB show");
  list->callback([&ctx, json] { List(ctx, *json); });
}

}  // namespace Zu::Tool
