#include "module/register_map.h"

uint8_t Field::MaxValue() const {
  switch (layout) {
    case Layout::kLaneBit:
      return 1;
    case Layout::kLanePair:
      return 3;
    case Layout::kLaneNibble:
      return 15;
    case Layout::kBits:
    case Layout::kLaneByte:
      return static_cast<uint8_t>((1u << width) - 1);
    case Layout::kAbsent:
      break;
  }
  return 0;
}

std::optional<FieldSpot> Locate(const Field& field, int lane) {
  uint8_t reg = field.reg, shift = 0, width = 1;
  switch (field.layout) {
    case Layout::kAbsent:
      return std::nullopt;
    case Layout::kBits:
      shift = field.shift;
      width = field.width;
      break;
    default:
      if (lane < 1 || lane > kLanes) return std::nullopt;
      switch (field.layout) {
        case Layout::kLaneBit:
          shift = static_cast<uint8_t>(lane - 1);
          break;
        case Layout::kLanePair:
          reg = static_cast<uint8_t>(field.reg + (lane - 1) / 4);
          shift = static_cast<uint8_t>(2 * ((lane - 1) % 4));
          width = 2;
          break;
        case Layout::kLaneNibble:
          reg = static_cast<uint8_t>(field.reg + (lane - 1) / 2);
          shift = lane % 2 ? 0 : 4;
          width = 4;
          break;
        case Layout::kLaneByte:
          reg = static_cast<uint8_t>(field.reg + lane - 1);
          shift = field.shift;
          width = field.width;
          break;
        default:
          return std::nullopt;
      }
  }
  const uint8_t page = reg < 0x80 ? 0 : field.page;
  const auto mask = static_cast<uint8_t>(((1u << width) - 1) << shift);
  return FieldSpot{RegisterAddress(page, reg), page, reg, shift, mask};
}

uint8_t ReadField(const ModuleImages& images, const Field& field, int lane) {
  const auto spot = Locate(field, lane);
  return spot ? spot->Get(images.Byte(spot->page, spot->reg)) : 0;
}

std::optional<Field> KindedField::ForKind(int kind) const {
  if (kind < 0 || kind >= kFlagKinds || !high_alarm.Present()) return std::nullopt;
  Field f = high_alarm;
  const int offset = 3 - kind;
  if (step == kByteStep)
    f.reg = static_cast<uint8_t>(f.reg + offset);
  else
    f.shift = static_cast<uint8_t>(f.shift + offset);
  return f;
}

Field RegisterMap::StagedField(int set, Staged which) const {
  if (set < 0 || set >= staged_sets) return Field{};
  Field f = staged0[static_cast<int>(which)];
  if (f.Present()) f.reg = static_cast<uint8_t>(f.reg + set * staged_set_stride);
  return f;
}
