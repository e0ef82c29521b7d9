#include "setfile/json_writer.h"

void JsonWriter::beforeValue() {
  if (afterName_) {
    afterName_ = false;
    return;
  }
  const std::uint32_t bit = depth_ > 0 && depth_ <= kDeepest ? 1u << (depth_ - 1) : 0;
  if ((hasItems_ & bit) != 0) out_->append(!lineBreak_ && style_ == Style::kSpaced ? ", " : ",");
  hasItems_ |= bit;
  writeLineBreak();
}

void JsonWriter::writeLineBreak() {
  if (!lineBreak_) return;
  out_->push_back('\n');
  out_->append(indent_);
  lineBreak_ = false;
}

void JsonWriter::open(char bracket) {
  beforeValue();
  out_->push_back(bracket);
  ++depth_;
  if (depth_ <= kDeepest) hasItems_ &= ~(1u << (depth_ - 1));
}

void JsonWriter::close(char bracket) {
  writeLineBreak();
  out_->push_back(bracket);
  --depth_;
}

void JsonWriter::name(std::string_view name) {
  beforeValue();
  appendJsonString(name, out_, form_);
  out_->append(style_ == Style::kSpaced ? ": " : ":");
  afterName_ = true;
}

void JsonWriter::string(std::string_view value) {
  beforeValue();
  appendJsonString(value, out_, form_);
}

void JsonWriter::number(std::int64_t value) {
  beforeValue();
  out_->append(std::to_string(value));
}

void JsonWriter::null() {
  beforeValue();
  out_->append("null");
}

void appendTrackMembers(const Track& track, JsonWriter& json) {
  json.name("artist");
  json.string(track.artist);
  json.name("song");
  json.string(track.song);
  json.name("album");
  json.string(track.album);
}
