#include "agent/sumora/sentiment_block.hpp"

#include <stdexcept>

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

std::string _sentiment_direction_meaning(double temperature, std::string_view direction) {
  if (direction == "warming") {
    if (temperature <= 35) return "良性企稳/冰点回暖：恐慌出清后的右侧高胜率进场信号。";
    if (temperature > 35 && temperature < 65) return "动量升温/趋势延续：资金情绪边际改善。";
    return "加速发烧/冲顶透支：属于危险脉冲，严禁据此追高。";
  }
  if (direction == "cooling") return "资金情绪边际降温，需结合所在温区收紧仓位与止盈纪律。";
  return "情绪平稳，重点遵循当前温区的战术总方针。";
}

SentimentLibrary _load_sentiment_library() {
  throw std::runtime_error("sentiment library not bound yet");
}

std::pair<std::string, SentimentMeta> _format_sentiment_block(
    const std::string& market_type, const std::string& analysis_date,
    const std::function<SentimentLibrary()>& /*load_library*/) {
  (void)market_type;
  (void)analysis_date;
  // Placeholder until the thermometer is wired in: no block for any market.
  return {std::string(), SentimentMeta{false, {}, std::string("unsupported_market_type")}};
}

std::pair<std::string, SentimentMeta> _format_sentiment_block(const std::string& market_type,
                                                              const std::string& analysis_date) {
  return _format_sentiment_block(market_type, analysis_date, _load_sentiment_library);
}

}  // namespace sumora
