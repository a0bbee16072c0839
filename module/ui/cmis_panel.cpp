#include "module/ui/cmis_panel.h"

#include "module/cmis_decode.h"
#include "module/module_images.h"

namespace pages {

namespace {

QString S(const std::string& s) { return QString::fromStdString(s); }

QString Hex(unsigned v) {
  return QStringLiteral("%1h").arg(QString::number(v, 16).rightJustified(2, '0').toUpper());
}

// "11110000" for lanes 1-8; "-" where a lane is not read or not in use.
QString LaneBitsText(const cmis::LaneBits& bits) {
  QString s;
  for (const auto& b : bits) s += b ? (*b ? QChar('1') : QChar('0')) : QChar('-');
  return s;
}

void Applications(const ModuleImages& m, QStringList& out) {
  const cmis::Applications apps = cmis::DecodeApplications(m);
  if (!apps.available) {
    out << "Applications: not read";
    return;
  }
  out << QStringLiteral("Applications (media type %1):").arg(S(apps.media_type_name));
  for (const cmis::Application& a : apps.list)
    out << QStringLiteral("  %1: %2 / %3, host %4 lanes, media %5 lanes")
               .arg(a.app_sel)
               .arg(S(a.host_name), S(a.media_name))
               .arg(a.host_lanes)
               .arg(a.media_lanes);
  if (apps.list.empty()) out << "  none advertised";
  QString active = "Active application per lane:";
  bool any = false;
  for (int lane = 1; lane <= kLanes; ++lane) {
    const auto& c = apps.active[lane - 1];
    active += QStringLiteral(" %1:%2").arg(lane).arg(
        c ? (c->app_sel ? QString::number(c->app_sel) : QStringLiteral("none"))
          : QStringLiteral("?"));
    any = any || c.has_value();
  }
  out << (any ? active : QStringLiteral("Active application per lane: not read"));
}

void Revisions(const ModuleImages& m, QStringList& out) {
  const cmis::Revisions r = cmis::DecodeRevisions(m);
  auto v = [](const auto& x) { return x ? S(x->Text()) : QStringLiteral("?"); };
  out << QStringLiteral("CMIS %1, firmware %2 (inactive %3), hardware %4")
             .arg(v(r.cmis), v(r.active_firmware), v(r.inactive_firmware), v(r.hardware));
}

void Flags(const ModuleImages& m, QStringList& out) {
  const cmis::ModuleFlags f = cmis::DecodeModuleFlags(m);
  QStringList raised;
  bool read = false;
  for (const auto* list : {&f.module, &f.lanes})
    for (const cmis::FlagValue& v : *list) {
      read = read || v.set.has_value();
      if (v.set && *v.set)
        raised
            << (v.lane
                    ? QStringLiteral("%1 lane %2").arg(QString::fromUtf8(v.flag->name)).arg(v.lane)
                    : QString::fromUtf8(v.flag->name));
    }
  if (!read)
    out << "Flags at the last read: not read";
  else
    out << "Flags at the last read: " +
               (raised.isEmpty() ? QStringLiteral("none") : raised.join(", "));
  out << "Fault cause: " + (f.fault_cause ? S(f.fault_cause_name) : QStringLiteral("not read"));
  out << QStringLiteral("Output status (1 valid) Rx %1  Tx %2")
             .arg(LaneBitsText(f.outputs.rx), LaneBitsText(f.outputs.tx));
}

void Media(const ModuleImages& m, QStringList& out) {
  const cmis::MediaInfo md = cmis::DecodeMedia(m);
  if (!md.available) {
    out << "Media: not read";
    return;
  }
  QString line =
      QStringLiteral("Media %1, connector %2").arg(S(md.media_type_name), S(md.connector_name));
  if (md.cable_length_m) line += ", cable " + S(md.cable_length_text);
  out << line;
  QStringList reach;
  auto add = [&reach](const std::optional<double>& v, const char* unit, const char* fibre) {
    if (v) reach << QStringLiteral("%1 %2 %3").arg(*v).arg(unit, fibre);
  };
  add(md.reach.smf_km, "km", "SMF");
  add(md.reach.om5_m, "m", "OM5");
  add(md.reach.om4_m, "m", "OM4");
  add(md.reach.om3_m, "m", "OM3");
  add(md.reach.om2_m, "m", "OM2");
  QString temp =
      md.case_temp_min_c && md.case_temp_max_c
          ? QStringLiteral("%1 to %2 degC").arg(*md.case_temp_min_c).arg(*md.case_temp_max_c)
          : QStringLiteral("not specified");
  out << QStringLiteral("Reach %1; case temperature %2")
             .arg(reach.isEmpty() ? QStringLiteral("not given") : reach.join(", "), temp);
}

// One line while every page checks; a page that does not check gets its own.
void Checksums(const ModuleImages& m, QStringList& out) {
  QStringList parts, wrong;
  for (const cmis::PageChecksum& c : cmis::VerifyChecksums(m)) {
    const QString page = "page " + Hex(c.page);
    if (!c.available)
      parts << page + " not read";
    else if (c.ok)
      parts << page + " ok";
    else
      wrong << QStringLiteral("Checksum %1 WRONG: stored %2, computed %3")
                   .arg(page, Hex(c.stored), Hex(c.computed));
  }
  if (!parts.isEmpty()) out << "Checksums: " + parts.join(", ");
  out << wrong;
}

void Tuning(const ModuleImages& m, QStringList& out) {
  const cmis::Tuning t = cmis::DecodeTuning(m);
  if (!t.supported) {
    out << "Tuning: not a tunable transmitter";
    return;
  }
  if (!t.available) {
    out << "Tuning: not read";
    return;
  }
  QStringList lanes;
  for (const cmis::LaneTuning& l : t.lanes) {
    const auto f = l.current_frequency_thz ? l.current_frequency_thz : l.frequency_thz;
    lanes << QStringLiteral("%1: %2 THz%3")
                 .arg(l.lane)
                 .arg(f ? QString::number(*f, 'f', 4) : QStringLiteral("?"))
                 .arg(l.wavelength_unlocked ? QStringLiteral(" unlocked") : QString());
  }
  out << "Tuning: " + lanes.join(", ");
}

}  // namespace

QStringList CmisPanelLines(const ModuleImages& images) {
  QStringList out;
  Revisions(images, out);
  Applications(images, out);
  Flags(images, out);
  Media(images, out);
  Checksums(images, out);
  Tuning(images, out);
  return out;
}

}  // namespace pages
