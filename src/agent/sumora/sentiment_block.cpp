#include "agent/sumora/sentiment_block.hpp"

#include <stdexcept>

#include "agent/sumora/cache.hpp"
#include "morvik/sentiment.hpp"
#include "zorvane/utils/env.hpp"
#include "zorvane/utils/json.hpp"
#include "zorvane/utils/logger.hpp"
#include "zorvane/utils/text.hpp"

namespace sumora {

namespace detail {

const LabelMap SENTIMENT_STATE_LABELS = {
    {"ICE_COLD", "冰点(≤15)"}, {"COLD", "偏冷(15-35)"},   {"NEUTRAL", "中性(35-65)"},
    {"HOT", "偏热(65-85)"},    {"OVERHEAT", "过热(≥85)"},
};

const LabelMap SENTIMENT_DIRECTION_LABELS = {
    {"warming", "升温"},
    {"cooling", "降温"},
    {"flat", "平稳"},
};

const LabelMap SENTIMENT_FACTOR_LABELS = {
    {"breadth", "广度"},      {"momentum", "动量"},    {"turnover", "量能"},
    {"volatility", "波动率"}, {"positioning", "位置"},
};

}  // namespace detail

namespace {

using zorvane::utils::json_find;

const char* const kHeading = "### 4. A 股情绪温度计（sentiment_thermometer 权威计算）";
const char* const kFailureLog = "[大盘 AI 简报] 情绪温度计计算失败（降级）: %s";

std::string label_of(const detail::LabelMap& labels, const std::string& code) {
  auto it = labels.find(code);
  return it == labels.end() ? code : it->second;
}

const rapidjson::Value& required(const rapidjson::Value& snapshot, const char* key,
                                 const std::string& freq) {
  const auto* v = json_find(snapshot, key);
  if (!v) throw std::runtime_error(freq + " 线情绪快照缺少字段 " + key);
  return *v;
}

// An optional entry; absent and null both mean "not given".
const rapidjson::Value* optional_entry(const rapidjson::Value& snapshot, const char* key) {
  const auto* v = json_find(snapshot, key);
  return v && !v->IsNull() ? v : nullptr;
}

std::string code_text(const rapidjson::Value& v, const char* key, const std::string& freq) {
  if (!v.IsString()) throw std::runtime_error(freq + " 线情绪快照字段 " + key + " 不是文本");
  return std::string(v.GetString(), v.GetStringLength());
}

double number_of(const rapidjson::Value& v, const char* key, const std::string& freq) {
  if (!v.IsNumber()) throw std::runtime_error(freq + " 线情绪快照字段 " + key + " 不是数值");
  return v.GetDouble();
}

// A value shown "as is": texts unquoted, integers as integers, reals in their shortest text.
std::string plain_text(const rapidjson::Value& v) {
  if (v.IsString()) return std::string(v.GetString(), v.GetStringLength());
  if (v.IsBool()) return zorvane::utils::bool_text(v.GetBool());
  if (v.IsInt64()) return std::to_string(v.GetInt64());
  if (v.IsUint64()) return std::to_string(v.GetUint64());
  if (v.IsNumber()) return zorvane::utils::float_text(v.GetDouble());
  if (v.IsNull()) return "None";
  return zorvane::utils::safe_json_dumps(v);
}

// The first `n` characters (code points) of UTF-8 text.
std::string first_chars(const std::string& text, std::size_t n) {
  std::size_t count = 0, i = 0;
  while (i < text.size() && count < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t len = c < 0x80           ? 1
                      : (c >> 5) == 0x6  ? 2
                      : (c >> 4) == 0xE  ? 3
                      : (c >> 3) == 0x1E ? 4
                                         : 1;
    i = std::min(text.size(), i + len);
    ++count;
  }
  return text.substr(0, i);
}

void render_horizon(std::vector<std::string>& lines, const std::string& freq,
                    const rapidjson::Value& s, const SentimentLibrary& lib) {
  if (!s.IsObject()) throw std::runtime_error(freq + " 线情绪快照不是对象");
  const std::string state = code_text(required(s, "state", freq), "state", freq);
  const std::string direction = code_text(required(s, "direction", freq), "direction", freq);
  const double temperature = number_of(required(s, "temperature", freq), "temperature", freq);
  double confidence = 0.0;
  if (const auto* c = optional_entry(s, "confidence"))
    confidence = number_of(*c, "confidence", freq);
  std::string sample = "0";
  if (const auto* n = optional_entry(s, "n_etf")) sample = plain_text(*n);

  const auto zone = lib.zone_desc(temperature);
  if (zone.size() != 3) {
    throw std::runtime_error("温区描述应为 3 段文本，实际为 " + std::to_string(zone.size()) +
                             " 段");
  }

  lines.push_back("- " + freq + "线：温度 **" + zorvane::utils::fixed_text(temperature, 1) +
                  "** · " + label_of(detail::SENTIMENT_STATE_LABELS, state) + " · " +
                  label_of(detail::SENTIMENT_DIRECTION_LABELS, direction) + " · 置信度 " +
                  zorvane::utils::fixed_text(confidence, 2) + " · 样本 " + sample + " 只 ETF");
  lines.push_back("  - 温区：" + zone[0] + "；战术总方针：" + zone[1]);
  const auto meaning = _sentiment_direction_meaning(temperature, direction);
  if (!meaning.empty()) lines.push_back("  - 趋势解读：" + meaning);

  std::string factors_line = "  - 子因子分位：";
  if (const auto* factors = optional_entry(s, "factors")) {
    if (!factors->IsObject()) throw std::runtime_error(freq + " 线情绪快照字段 factors 不是映射");
    bool first = true;
    for (auto it = factors->MemberBegin(); it != factors->MemberEnd(); ++it) {
      if (!first) factors_line += " · ";
      first = false;
      const std::string code(it->name.GetString(), it->name.GetStringLength());
      factors_line += label_of(detail::SENTIMENT_FACTOR_LABELS, code) + " " + plain_text(it->value);
    }
  }
  lines.push_back(std::move(factors_line));
}

}  // namespace

std::string _sentiment_direction_meaning(double temperature, std::string_view direction) {
  if (direction == "warming") {
    if (temperature <= 35) return "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。";
    if (temperature > 35 && temperature < 65) return "动量升温/趋势延续：资金情绪边际改善。";
    return "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。";
  }
  if (direction == "cooling") return "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。";
  return "情绪平稳，重点遵循当前温区的战术总方针。";
}

SentimentLibrary _load_sentiment_library(bool refresh) {
  SentimentLibrary lib;
  lib.snapshot = [refresh](const std::string& freq, const std::string& universe_path,
                           const std::optional<std::string>& date) {
    morvik::SentimentConfig config;
    config.freq = freq;
    config.universe_path = universe_path;
    return morvik::compute_sentiment_snapshot(date, config, true, refresh);
  };
  lib.zone_desc = [](double temperature) {
    auto zone = morvik::get_sentiment_zone_desc(temperature);
    return std::vector<std::string>(zone.begin(), zone.end());
  };
  return lib;
}

std::pair<std::string, SentimentMeta> _format_sentiment_block(
    const std::string& market_type, const std::string& analysis_date,
    const std::function<SentimentLibrary()>& load_library) {
  auto mt = zorvane::utils::to_upper(market_type);
  if (mt == "ETF") mt = "A";
  if (mt != "A") return {std::string(), SentimentMeta{false, {}, "unsupported_market_type"}};

  try {
    if (!load_library) throw std::runtime_error("情绪温度计库不可用");
    const SentimentLibrary lib = load_library();
    if (!lib.snapshot || !lib.zone_desc) throw std::runtime_error("情绪温度计库不可用");

    const std::string day = _normalize_date(analysis_date);
    const std::optional<std::string> as_of =
        day.empty() ? std::nullopt : std::optional<std::string>(day);
    const std::string universe =
        (zorvane::utils::get_project_root() / "data" / "etf" / "etf.yaml").string();

    const std::vector<std::string> freqs = {"D", "W"};
    std::vector<rapidjson::Document> snapshots;
    for (const auto& f : freqs) snapshots.push_back(lib.snapshot(f, universe, as_of));

    std::vector<std::string> lines = {kHeading};
    for (std::size_t i = 0; i < freqs.size(); ++i)
      render_horizon(lines, freqs[i], snapshots[i], lib);

    std::string block;
    for (const auto& line : lines) block += line + "\n";
    return {std::move(block), SentimentMeta{true, freqs, std::nullopt}};
  } catch (const std::exception& e) {
    const std::string message = e.what();
    zorvane::utils::logger.warning(kFailureLog, message);
    return {std::string(),
            SentimentMeta{false, {}, first_chars(message, detail::SKIP_REASON_MAX_CHARS)}};
  } catch (...) {
    const std::string message = "未知错误";
    zorvane::utils::logger.warning(kFailureLog, message);
    return {std::string(), SentimentMeta{false, {}, message}};
  }
}

std::pair<std::string, SentimentMeta> _format_sentiment_block(const std::string& market_type,
                                                              const std::string& analysis_date) {
  return _format_sentiment_block(market_type, analysis_date,
                                 [] { return _load_sentiment_library(); });
}

}  // namespace sumora
