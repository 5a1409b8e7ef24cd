#include "agent/sumora/meta_record.hpp"

#include "zorvane/utils/json.hpp"

namespace sumora {

using zorvane::utils::json_add;

MetaRecord::MetaRecord() {
  doc_.SetObject();
}

MetaRecord::MetaRecord(const MetaRecord& other) {
  doc_.CopyFrom(other.doc_, doc_.GetAllocator());
}

MetaRecord::MetaRecord(MetaRecord&& other) noexcept : doc_(std::move(other.doc_)) {
  other.doc_.SetObject();
}

MetaRecord& MetaRecord::operator=(const MetaRecord& other) {
  if (this != &other) {
    rapidjson::Document copy;
    copy.CopyFrom(other.doc_, copy.GetAllocator());
    doc_.Swap(copy);
  }
  return *this;
}

MetaRecord& MetaRecord::operator=(MetaRecord&& other) noexcept {
  if (this != &other) {
    doc_.Swap(other.doc_);
    other.doc_.SetObject();
  }
  return *this;
}

MetaRecord::~MetaRecord() = default;

MetaRecord MetaRecord::from_client(std::string_view client_type, std::string_view model) {
  MetaRecord meta;
  auto& a = meta.doc_.GetAllocator();
  json_add(meta.doc_, "llm_client_type", client_type, a);
  json_add(meta.doc_, "llm_model", model, a);
  return meta;
}

MetaRecord MetaRecord::parse(std::string_view text) {
  MetaRecord meta;
  auto doc = zorvane::utils::parse_json(text);
  if (doc.IsObject()) meta.doc_.Swap(doc);
  return meta;
}

bool MetaRecord::empty() const {
  return doc_.MemberCount() == 0;
}

std::optional<std::string> MetaRecord::text(std::string_view key) const {
  const auto* v = zorvane::utils::json_find(doc_, key);
  if (v == nullptr || v->IsNull()) return std::nullopt;
  if (v->IsString()) return std::string(v->GetString(), v->GetStringLength());
  return zorvane::utils::safe_json_dumps(*v);
}

std::string MetaRecord::dumps() const {
  return zorvane::utils::safe_json_dumps(doc_, false, 2);
}

bool MetaRecord::operator==(const MetaRecord& other) const {
  return doc_ == other.doc_;
}

}  // namespace sumora
