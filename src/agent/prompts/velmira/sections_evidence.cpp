// Step 2.2 to 2.4: volume and price, volume extremes, money flow and risk flags, ETF
// liquidity and premium, momentum, conflict arbitration.

#include "agent/prompts/velmira/sections.hpp"

namespace velmira::detail {

constinit const std::string_view STEP22_VOLUME_A = R"~(
#### 2.2 量价验证
只分析与核心矛盾相关的量能信号，不做面面俱到的罗列：
- 底部反转逻辑：寻找【底部巨量】或【缩量企稳后放量突破】；
- 趋势延续逻辑：确认【缩量回调不破关键均线】；
- A 股特征：是否有涨停板或放量大阳线确认突破；价格临近压力位时是否出现抛压（长上影、放量滞涨）。
)~";

constinit const std::string_view STEP22_VOLUME_US = R"~(
#### 2.2 量价验证
只分析与核心矛盾相关的量能信号，不做面面俱到的罗列：
- 机构资金动向：重点识别放量滞涨、缩量回调、底部巨量等机构行为特征。
)~";

constinit const std::string_view STEP22_VOLUME_HK = R"~(
#### 2.2 量价验证
只分析与核心矛盾相关的量能信号，不做面面俱到的罗列：
- 区分活跃股与仙股：成交稀疏、股价极低的个股，量价信号容易失真，可靠性大打折扣。
)~";

constinit const std::string_view STEP22_VOLUME_ETF = R"~(
#### 2.2 量价与流动性验证
只分析与核心矛盾相关的量能与流动性信号，不做面面俱到的罗列。
)~";

constinit const std::string_view VOLUME_EXTREMES = R"~(
**量能极值信号**：
- **缩量极值**：`Volume_Ratio` < 0.7 且连续至少 3 日，属于蓄势；若同时均线收敛，往往是突破的前兆。
- **高潮量**：`Volume_Ratio` > 2.5 且收阴或带长上影线，大概率是出货。
- **放量不涨**：`Volume_Ratio` > 1.3 且收出阴线实体，说明上方抛压沉重。
)~";

constinit const std::string_view OBV_RISKFLAGS = R"~(
**资金流向与风险标签**：
- 检查 OBV、MFI 与价格走势是一致还是背离。
- 若 `risk_flags` 非空，必须在本小节逐条回应每一个标签（应对规则见注意事项第 14 条），不得遗漏。
)~";

constinit const std::string_view LIQUIDITY_ETF = R"~(
**ETF 流动性分层**（按近 20 日日均成交额）：
- ≥ 1 亿元：流动性充足；
- 2000 万～1 亿元：流动性一般，仓位上限不超过 20%；
- < 2000 万元：流动性差，置信度强制下调，仓位上限不超过 10% 或直接观望。

**折溢价评估**（二级市场价格相对 IOPV 或净值）：
- 溢价 > +2%：过热，建议“观望等待”或减仓；
- 溢价 +0.5%～+2%：可以接受；
- 折溢价在 ±0.5% 以内：中性；
- 折价 < -0.5%：市场偏冷，可关注回归反弹机会，但若折价 > -2% 需评估流动性风险；
- 输入中没有 IOPV 或净值数据时，明确写出“折溢价信息缺失”。

)~";

constinit const std::string_view STEP23_MOMENTUM = R"~(#### 2.3 动能与超买超卖
从 MACD、KDJ、RSI 中挑选对当前判断最关键的 1～2 个信号展开，重点关注背离与共振确认，不要机械罗列全部指标读数。
- **底背离的使用条件**：关键支撑位出现的底背离（MACD 柱状图或 RSI），只有同时满足以下两点，才能作为独立的做多触发信号：(1) 该支撑位是成交密集区或关键均线；(2) 当日或次日出现企稳K线，且成交量 > 5 日均量 × 1.3。否则仅作参考。
- 若 `signal_confluence.score` 已计入该信号，在 ±0.3 的置信分调整中不得重复加分。
)~";

constinit const std::string_view SECTION_24_CONFLICT = R"~(
#### 2.4 信号冲突仲裁
- 信号相互冲突时，以量价为先；
- 大周期优先于小周期（周线优先于日线）；
- 冲突无法调和时，置信度定为“低”，策略定为“观望等待”。
)~";

}  // namespace velmira::detail
