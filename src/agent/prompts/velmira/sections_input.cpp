// Input-side sections: data-format table, pattern-info and market-brief blocks, framework
// header.

#include "agent/prompts/velmira/sections.hpp"

namespace velmira::detail {

constinit const std::string_view DATA_FIELDS_HEAD = R"~(**数据格式说明**
日线与周线数据均为 JSON 格式，按日期升序排列，最后一条为最新交易日。主要字段如下：

| 字段 | 含义 | 示例 |
|---|---|---|
| Date | 交易日期 | 2025-11-17 |
| open/high/low/close | OHLC价格 | )~";

constinit const std::string_view DATA_FIELDS_TAIL = R"~( |
| volume | 成交量 | 3066412 |
| Volume_Ratio | 量比 | 3.53 |
| EMA_5/10/20/60/120 | 指数移动平均线（EMA_60/120 近似月线/季线） | — |
| VWMA | 成交量加权移动平均线 | 25.85 |
| upper/middle/lower_band | 布林带上轨/中轨/下轨 | — |
| MACD/MACD_signal/MACD_hist | MACD 快线/信号线/柱状图 | — |
| RSI | 相对强弱指标（数据中另含 RSI_6/12/24） | — |
| K/D/J | KDJ 随机指标 | — |
| OBV | 能量潮 | — |
| MFI | 资金流量指标 | — |
| ADX | 平均趋向指标（衡量趋势强度） | — |
| ATR | 平均真实波幅 | — |
| SAR | 抛物线转向指标 | — |

- **2.2 周线使用规则**：最后一根周线可能是尚未走完的当周K线，其高、低、收均非最终值。研判以日线为主要依据，周线仅用于确认中期方向。
- **2.3 长周期均线**：EMA_60 与 EMA_120 分别近似月线与季线，是判断中长期支撑与压力的首要参考。
)~";

constinit const std::string_view ENV_HEAD = R"~(
### 3. 形态信息初步分析
以下是系统对该标的的形态预筛与量化约束结果（JSON），请批判性地参考使用：
<pattern_info>
{pattern_info}
</pattern_info>

**字段说明**

| 字段 | 含义 |
|---|---|
| `urgency` | 信号紧迫度：HIGH / MEDIUM / LOW |
| `universe_rank` / `universe_size` | 在当日全市场扫描中通过筛选的标的里的排名 / 通过筛选的标的总数 |
| `calculated_constraints.base_confidence_score` | 建议基础置信分（0～4.5），已涵盖趋势共振、量能、市场环境与信号共振，不含盈亏比（RRR） |
| `calculated_constraints.confidence_breakdown` | 基础置信分的各分项构成 |
| `calculated_constraints.min_rrr` | 最低盈亏比要求（已按市场环境自适应调整） |
| `calculated_constraints.max_stop_dist_atr` | 最大止损距离，以 ATR 倍数表示（已按市场环境自适应调整） |
| `calculated_constraints.max_position_pct` | 最大仓位百分比（已按市场环境自适应调整） |
| `price_context.support` | 支撑基准：20 日最低价与 EMA20 中的较低者 |
| `price_context.resistance` | 压力基准：20 日最高价与布林带上轨中的较高者 |
| `price_context.low_5d` | 近 5 日最低收盘价（底部反转策略的止损锚点） |
| `classic_pivot_points` / `fibonacci_pivot_points` | 由上一周最高价、最低价、收盘价计算的周线枢轴点：P、R1～R3、S1～S3 |
| `trend_structure.vwma_slope` | 预先计算的 3 日 VWMA 斜率，上升时为 positive |
| `risk_flags` | 风险警示标签列表（逐条应对规则见注意事项第 14 条） |
| `market_context.vol_regime` | 大盘波动状态：`high_vol` / `low_vol` / `normal_vol` |
| `signal_confluence.score` | 信号共振得分，已计入基础置信分 |
| `pre_screen.strategy_hint` | 预筛阶段给出的策略类型猜测 |

**使用原则**
- `price_context.support` / `price_context.resistance` 是粗粒度基准，也是 Step 3 与 Step 4 的默认锚点；若有更合理的点位，可在 Step 3 中说明理由后覆盖。
- 枢轴点是候选锚点，与均线、前高前低等多个来源相互重合时参考价值最高：S1～S3 用于设置止损与低吸位置，R1～R3 用于设定目标价。

### 4. 大盘 AI 预分析（系统统一判断，所有标的共享）
> 以下结论由系统在本次分析之前统一生成，同一市场、同一日期下的所有)~";

constinit const std::string_view ENV_TAIL = R"~(
> 共享同一份判断口径。

- 用途：用于 Step 2.0 的 Beta 匹配与系统性风险评估；直接采纳其结论，Step 2.0 中不得重复罗列指数涨跌幅等原始数据。
- 首行为 `[bias / 强度]` 行，给出大盘倾向与强度，是 Step 1 档位定档的唯一依据；末尾的“⚠️ 风险”行是系统性风险提示。

<market_ai_brief>
{market_ai_brief}
</market_ai_brief>
)~";

constinit const std::string_view FRAMEWORK_HEAD = R"~(## 分析框架
请严格按以下步骤展开分析，报告必须包含下列全部章节，各部分篇幅控制如下：
- Step 0（标的信息）：不超过 50 字
- Step 1（市场状态诊断）：200～300 字
- Step 2（关键证据分析，含 2.0～2.4）：600～900 字
- Step 3（关键点位与风险）：200～300 字
- Step 4（目标价与盈亏比）：200～300 字
- Step 5（交易决策，含 5.1/5.2/5.3）：300～400 字
- Step 6（结构化决策 JSON）：不计入字数

报告总篇幅控制在 1500～2500 字，超出部分将被截断。

### 0. 标的信息
在报告开头输出)~";

}  // namespace velmira::detail
