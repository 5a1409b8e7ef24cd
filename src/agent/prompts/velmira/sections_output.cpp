// Step 6 (decision field table, output rules, example JSON), the notes and the closing
// kickoff line. The example JSON is the only place with braces: they are doubled because the
// templates are filled as format templates.

#include "agent/prompts/velmira/sections.hpp"

namespace velmira::detail {

// The assembly cuts this text at "#### 6.3 输出要求" and puts the example JSON in between,
// so that heading must occur exactly once.
constinit const std::string_view STEP6_SCHEMA_SYSTEM = R"~(
### 6. 结构化决策摘要
报告的最后必须输出一个 JSON 对象，作为本次分析的结构化决策。

#### 6.1 字段定义表（权威版本，JSON 取值须严格遵守）
字段按下表顺序输出：

| 字段 | 类型 | 取值 | 规则 |
|---|---|---|---|
| `stock_code` | string | 照抄输入 | — |
| `stock_name` | string | 照抄输入 | — |
| `analysis_time` | string | 照抄输入 | — |
| `current_price` | float | 照抄输入 | — |
| `direction` | enum | 看多 / 看空 / 中性 | 三选一 |
| `action` | enum | 强烈买入 / 建议买入 / 谨慎买入 / 观望等待 | 买入须同时满足盈亏比与止损上限要求；买入等级按 5.3 评定 |
| `holder_action` | enum | 继续持有 / 分批减仓 / 清仓离场 | 针对持仓者的建议 |
| `strategy_mode` | enum | 趋势跟随 / 底部反转 / 区间震荡 / 空仓等待 / 均线压缩 | 与 Step 1 的结论一致；均线压缩时 `action` 强制为观望等待 |
| `entry_price_low` | float | ≥ 0 | 买入时为入场区间下限，须在 `current_price` × [0.92, 1.05] 以内；观望时为持币者的触发区间下沿，或填 0 |
| `entry_price_high` | float | ≥ `entry_price_low` | 买入时为入场区间上限；观望时为触发区间上沿，或填 0 |
| `stop_loss` | float | ≥ 0 | 买入时须低于 `entry_price_low`；观望且继续持有：持仓者的防守位；观望且减仓或清仓：0 |
| `target_1` | float | ≥ 0 | 买入时须高于 `entry_price_high`；观望且继续持有：持仓者的目标位；减仓或清仓：0 |
| `target_2` | float | ≥ `target_1` | 规则同 `target_1` |
| `rrr` | float | 三位小数 | 观望时为 0；买入时若低于 `min_rrr`，`action` 必须改为观望等待 |
| `rrr_max` | float | ≥ `rrr` | 观望时为 0；以 `target_2` 计算 |
| `support_price` | float | > 0 | 关键支撑位 |
| `resistance_price` | float | > `support_price` | 关键压力位 |
| `position_pct` | int | 0～100 | 观望时为 0；谨慎买入时不超过 15 |
| `holding_period` | string | “N个交易日”或“无” | 买入：入场后预计持有的交易日数；观望且继续持有：剩余持有天数；观望且减仓、清仓或空仓：“无” |
| `confidence` | enum | 高 / 中 / 低 | 见注意事项第 9 条 |
| `risk_level` | enum | 高 / 中 / 低 | 综合波动率、流动性与大盘环境评定 |
| `market_sentiment` | enum | 看多 / 看空 / 中性 | 按注意事项第 12 条映射 |
| `key_watch` | string | 两个触发条件 | 格式为“升级触发：[条件]→[操作]；降级触发：[条件]→[操作]”，须写明具体价格或指标数值 |

#### 6.3 输出要求
- 只输出一个合法的 JSON 对象，放在 ```json 代码块中；使用双引号，不得有尾随逗号，不得包含注释；
- 字段名称与顺序必须与 6.1 完全一致；
- 所有数值字段保留三位小数（`position_pct` 为整数）；
- 不得把“X 或 Y”之类的占位文本当作取值，每个字段只填一个确定的值；
- 示例 JSON 见 6.2 小节（系统指令与输入数据分开发送时，示例位于用户消息中）。
)~";

// Leading line break: in the user template it separates the example from the market brief;
// the assembly strips it where the example follows the field table.
constinit const std::string_view STEP6_EXAMPLE_USER = R"~(
#### 6.2 示例 JSON（**仅为 schema 示例，数值须替换为你分析的真实结果**）
本示例对应“持币者观望等待、持仓者继续持有”的情形：因此 `position_pct` 为 0，`rrr` 与 `rrr_max` 为 0；入场字段填写持币者的入场触发区间（没有则填 0）；止损与目标字段填写持仓者的防守位与目标位，均不为 0。

```json
{{
  "stock_code": "{stock_code}",
  "stock_name": "{stock_name}",
  "analysis_time": "{analysis_time}",
  "current_price": {current_price},
  "direction": "看多",
  "action": "观望等待",
  "holder_action": "继续持有",
  "strategy_mode": "趋势跟随",
  "entry_price_low": 23.800,
  "entry_price_high": 24.500,
  "stop_loss": 23.500,
  "target_1": 28.000,
  "target_2": 30.000,
  "rrr": 0.0,
  "rrr_max": 0.0,
  "support_price": 23.500,
  "resistance_price": 28.000,
  "position_pct": 0,
  "holding_period": "10个交易日",
  "confidence": "中",
  "risk_level": "中",
  "market_sentiment": "中性",
  "key_watch": "升级触发：日收盘站稳28.00且量比>1.3→补仓至满仓上限；降级触发：跌破EMA20=25.80→减仓50%"
}}
```

)~";

constinit const std::string_view NOTES_HEAD = R"~(
## 注意事项
1. **硬性约束（与 5.3 一致）**：`rrr` < `min_rrr` → `action` 必须为“观望等待”，这是唯一不可覆盖的硬门槛；`direction` 为看空 → 不得给出任何买入建议；`holder_action` 为清仓离场 → `action` 必须为观望等待；任何买入都必须满足 `stop_loss < entry_price_low ≤ entry_price_high < target_1 < target_2`。填写指引：观望时 `rrr`、`rrr_max`、`position_pct` 均填 0；观望且继续持有 → `stop_loss` 与目标位填写持仓者的防守位和目标位；观望且减仓或清仓 → `stop_loss`、`target_1`、`target_2` 均填 0；空仓且观望 → `holding_period` 填“无”。
2. **引用具体数据**：每个判断都要引用具体的价格、日期与指标数值，避免空泛表述。
3. **批判性使用形态信息**：形态信息只是初步结论，须结合K线与指标核实，发现错误应明确指出并纠正。
4. **禁止编造形态**：基于 K 线事实描述价格行为。
)~";

constinit const std::string_view NOTES_MID_A =
    R"~(5. **A股涨跌停与 T+1 止损执行**：当日买入的仓位最早次日才能卖出，止损只能在次日开盘执行。因此止损缓冲取防守位下方 1.0～1.5 × ATR（而不是常规的 0.5～1 × ATR），弱势档下不超过 1.2 × ATR；5 日内连续收阴并跌破关键均线时，警惕跳空低开风险；出现跌停后，操作建议一律调整为“观望等待”。
6. **JSON 规范**：数值保留三位小数，不带单位；JSON 内容必须来自本次分析，不得编造；`holding_period` 写作“N个交易日”。
7. **盈亏比优先**：`rrr` 低于 `min_rrr` 时绝不入场。
8. **计价货币**：所有价格均以人民币（CNY）计价。
)~";

constinit const std::string_view NOTES_MID_US =
    R"~(5. **JSON 规范**：数值保留三位小数，不带单位；JSON 内容必须来自本次分析，不得编造；`holding_period` 写作“N个交易日”。
6. **盈亏比优先**：`rrr` 低于 `min_rrr` 时绝不入场。
7. **事件窗口**：财报在 5 个交易日以内，或正处于 FOMC / CPI / 非农就业数据公布当周时，倾向“观望等待”，置信度至少下调一级。
8. **计价货币**：所有价格均以美元（USD）计价。
)~";

constinit const std::string_view NOTES_MID_HK =
    R"~(5. **JSON 规范**：数值保留三位小数，不带单位；JSON 内容必须来自本次分析，不得编造；`holding_period` 写作“N个交易日”。
6. **盈亏比优先**：`rrr` 低于 `min_rrr` 时绝不入场。
7. **无涨跌幅限制**：港股不设涨跌幅限制，须警惕剧烈波动与流动性陷阱。
8. **计价货币**：所有价格均以港币（HKD）计价。
)~";

constinit const std::string_view NOTES_MID_ETF =
    R"~(5. **JSON 规范**：数值保留三位小数，不带单位；JSON 内容必须来自本次分析，不得编造；`holding_period` 写作“N个交易日”。
6. **盈亏比优先**：`rrr` 低于 `min_rrr` 时绝不入场。
7. **流动性陷阱**：小规模ETF成交稀疏、买卖价差大，须警惕流动性陷阱。
8. **计价货币**：所有价格均以人民币（CNY）计价。
)~";

constinit const std::string_view NOTES_TAIL =
    R"~(9. **置信度与约束引擎说明**：以 `base_confidence_score` 作为置信度的起点并在报告中引用；只有给出具体证据时才可做不超过 ±0.3 的调整；仓位上限与止损上限是绝对约束，不得突破；`rrr` 低于 `min_rrr` 时必须观望。
10. **数据不足**：日线数据少于 30 根时，在 Step 0 之后写明“数据不足，分析结论置信度强制降为低”，并将 `confidence` 设为“低”。
11. **数据异常处理**：`close` 为 0 或负数，或连续 3 日及以上数据完全相同 → 标注“疑似停牌/数据异常”，`confidence` 设为“低”，`action` 设为“观望等待”。在没有涨跌幅限制的市场（美股、港股、ETF），单日涨跌超过 20% 或累计涨幅超过 300% 属于正常行情，不得视为异常；只有在有涨跌幅限制的市场（如上市初期之后的 A 股主板）出现超过 ±20% 的单日涨跌时，才可标注“疑似除权除息或数据异常”。指标为 NaN 或 null 时直接跳过该指标。`current_price` 与最新收盘价的偏离超过 ±3% 时，标注“当日行情波动大”，入场区间以 `current_price` 为基准。
12. **`market_sentiment` 映射**：大盘 bias 偏多 → 看多；偏空 → 看空；震荡 → 中性；避险 → 中性。
13. **波动率状态**（`market_context.vol_regime`）：`high_vol`（指数 ATR 高于其 60 日均值的 1.3 倍）→ 仓位上限降为该档位原有上限的 75%，区间策略的可靠性下降，置信度至少下调一级，止损缓冲可在档位上限之内增加 0.3 × ATR；`low_vol`（低于 60 日均值的 0.85 倍）→ 突破信号更可靠；`normal_vol` → 不作调整。
14. **风险标签逐条应对**（`risk_flags`）：
   - 高潮量：提高趋势入场门槛，置信度至少下调一级；
   - 放量不涨：不得追高，置信度下调一级；
   - 黄昏星：优先“观望等待”；
   - 回撤过深（`pullback_depth_pct` > 15%）或回撤过长（`pullback_days` > 15）：已不属于健康回调，倾向按底部反转框架分析；
   - 放量下跌（`pullback_avg_vr` > 1.2）：需格外谨慎；
   - RS绝对弱势（`rs_20d` < −5%）：除非处于强势档，否则不得入场。
)~";

constinit const std::string_view USER_KICKOFF = "\n请开始你的分析：\n";
constinit const std::string_view SYSTEM_USER_SEP = "\n\n---\n\n";

}  // namespace velmira::detail
