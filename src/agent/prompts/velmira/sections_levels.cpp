// Step 3 (levels and risk, stop pricing, market risk blocks) and Step 4 (targets and RRR).

#include "agent/prompts/velmira/sections.hpp"

namespace velmira::detail {

constinit const std::string_view STEP3_LEVELS_A = R"~(
### 3. 关键点位与风险
- **支撑与压力**：以 `price_context.support` / `price_context.resistance` 为锚点，结合 EMA、VWMA、布林带、前高前低及周线枢轴点校准，结果分别填入 `support_price` / `resistance_price`；如偏离基准，须说明理由。
- **关键防守位**：必须明确，即跌破后原有逻辑失效的价位。
- **流动性风险**（A 股特有）：无量跌停时卖单可能无法成交，止损存在无法执行的风险。
- **波动率**：结合 ATR 占股价的比例与 SAR 的位置评估波动风险。
)~";

constinit const std::string_view STEP3_LEVELS_US = R"~(
### 3. 关键点位与风险
- **支撑位**：以 `price_context.support` 为基准，结合均线、前低及枢轴点 S1～S3 校准，结果填入 `support_price`；
- **压力位**：以 `price_context.resistance` 为基准，结合前高、布林带上轨及枢轴点 R1～R3 校准，结果填入 `resistance_price`；
- **关键防守位**：明确给出跌破即意味着逻辑失效的价位；
- **波动率**：结合 ATR 与 SAR 评估；美股没有涨跌幅限制，单日波动可能很大。
)~";

constinit const std::string_view STEP3_LEVELS_HK = R"~(
### 3. 关键点位与风险
- **支撑位**：以 `price_context.support` 为基准，结合均线、前低及枢轴点 S1～S3 校准，结果填入 `support_price`；
- **压力位**：以 `price_context.resistance` 为基准，结合前高、布林带上轨及枢轴点 R1～R3 校准，结果填入 `resistance_price`；
- **关键防守位**：明确给出跌破即意味着逻辑失效的价位；
- **波动率**：结合 ATR 与 SAR 评估；港股没有涨跌幅限制，单日波动可能很大。
)~";

constinit const std::string_view STEP3_LEVELS_ETF = R"~(
### 3. 关键点位与风险
- **支撑位**：以 `price_context.support` 为基准，结合均线、前低及枢轴点 S1～S3 校准，结果填入 `support_price`；
- **压力位**：以 `price_context.resistance` 为基准，结合前高、布林带上轨及枢轴点 R1～R3 校准，结果填入 `resistance_price`；
- **关键防守位**：明确给出跌破即意味着逻辑失效的价位；
- **波动率**：结合 ATR 与 SAR 评估。
)~";

constinit const std::string_view STOPLOSS_PRICING = R"~(
**止损定价规则**（按优先级依次执行）：
1. **关键防守位减 ATR 缓冲**：趋势跟随缓冲 1 × ATR，底部反转 0.5 × ATR，均线压缩突破 0.5 × ATR，区间震荡 1 × ATR；
2. **VWMA 次级防守**：仅当第 1 条得出的止损距离超过档位止损上限时，才改用 VWMA 作为次级防守位；
3. **结构低点**：止损设在前期关键低点或趋势线下方（参考 `price_context.support`；底部反转参考 `price_context.low_5d`）；
4. **上限约束**：止损距离不得超过当前档位的上限（强势档 1.5 × ATR / 中性档 1.8 × ATR / 弱势档 1.2 × ATR）；超出上限说明入场时机尚未成熟，应观望等待。
)~";

constinit const std::string_view RISK_US = R"~(
**美股特有风险**：
- 近 5 日内出现过 3% 以上的隔夜跳空：不挂盘前单，改为开盘 30 分钟后确认再入场；
- 财报在 5 个交易日以内：置信度下调一级，且财报公布后的首个交易时段波动可达 3～5 × ATR；
- FOMC / CPI / 非农就业数据公布前后，Beta 风险显著上升。
)~";

constinit const std::string_view RISK_HK = R"~(
**港股特有风险**（流动性分层，按近 20 日日均成交额）：
- ≥ 5000 万港币：流动性正常；
- 1000 万～5000 万港币：流动性偏弱，仓位上限不超过 20%，并分批进出；
- < 1000 万港币：仙股区间，操作建议强制为“观望等待”，不得买入；
- 近 5 日内出现单日涨跌幅达到或超过 ±10% 的情况：止损缓冲额外增加 0.5 × ATR。
)~";

constinit const std::string_view RISK_ETF = R"~(
**ETF 特有风险**：
- **跟踪误差**：近 20 日二级市场涨跌幅与标的指数的偏离超过 2% 时须重点提示；
- **流动性陷阱**：按 2.2 节的流动性分层执行仓位限制；
- **申赎影响**：大幅溢价或折价会引发申购赎回套利，价格存在向净值回归的压力；
- **除息缺口**：分红除息造成的价格缺口不属于技术性破位。
)~";

constinit const std::string_view STEP4_TARGETS_RRR = R"~(
### 4. 目标价确定与盈亏比
- **第一目标（保守）**：强压力位附近，即 `price_context.resistance` 或枢轴点 R1/R2，或恰好满足盈亏比下限的位置；
- **第二目标（乐观）**：前期波段高点或枢轴点 R3；
- **盈亏比计算**：RRR = (第一目标 − 入场价) / (入场价 − 止损价)；RRR_max = (第二目标 − 入场价) / (入场价 − 止损价)；
- **硬性规则一**：`rrr` < `calculated_constraints.min_rrr` 时禁止入场；
- **硬性规则二**：`position_pct` 在任何情况下都不得超过 `calculated_constraints.max_position_pct`。
)~";

}  // namespace velmira::detail
