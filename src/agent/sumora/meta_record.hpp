#pragma once
// The meta record that travels with a market brief: which model client and model wrote it.
//
// Written by the pipeline as {"llm_client_type": ..., "llm_model": ...}; a sidecar read back
// from disk may hold any JSON object and is accepted as it is.

#include <rapidjson/document.h>

#include <optional>
#include <string>
#include <string_view>

namespace sumora {

class MetaRecord {
 public:
  // An empty record (no entries).
  MetaRecord();
  MetaRecord(const MetaRecord& other);
  MetaRecord(MetaRecord&& other) noexcept;
  MetaRecord& operator=(const MetaRecord& other);
  MetaRecord& operator=(MetaRecord&& other) noexcept;
  ~MetaRecord();

  // {"llm_client_type": client_type, "llm_model": model}, in that order.
  static MetaRecord from_client(std::string_view client_type, std::string_view model);
  // Parses sidecar text. Throws std::invalid_argument for text that is not JSON; valid JSON
  // that is not an object gives an empty record (nothing in it could be read by key).
  static MetaRecord parse(std::string_view text);

  bool empty() const;
  // The entry as text: strings as they are, null or absent as nullopt, other values as their
  // JSON text.
  std::optional<std::string> text(std::string_view key) const;
  const rapidjson::Value& json() const { return doc_; }
  // Sidecar form: two-space indent, non-ASCII written as is, no trailing line break.
  std::string dumps() const;

  bool operator==(const MetaRecord& other) const;

 private:
  rapidjson::Document doc_;
};

}  // namespace sumora
