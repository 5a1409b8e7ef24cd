#include "agent/sumora/prompts.hpp"

#include <stdexcept>

namespace sumora {

const std::string SUMORA_SYSTEM_MESSAGE =
    R"(你是专业的金融数据合成与报告专家。你的任务是：严格依据上游系统预先计算的权威结论（【权威结论】）与市场数据（【市场数据】），生成一份极简、专业的大盘简报，让人工读者与下游个股分析都能一眼读懂当前大盘环境。

<rules>
1. **数据驱动与严格服从**
   - 研判方向（bias）、强度与策略指引均由上游系统精确计算，你必须**逐字照抄**，严禁自行推导、改写或替换为同义词；判定依据仅供你理解结论，无需在简报中复述。
   - 收盘价与均线的相对位置必须直接引用【权威事实】中的原话，严禁根据历史数据表格自行比对数值。
   - 均线排列与收盘位置是两回事：EMA 空头排列并不意味着收盘位于 EMA20 下方。若【权威事实】写明收盘已站上 EMA20，严禁使用"未收复"等与事实相反的措辞。
2. **极简与结论先行**
   - 第一行即结论，不写铺垫、客套与免责声明。
   - 市场氛围、关键解读与风险提示各用一句话：先写涨跌与量能，再引用【权威事实】中的均线关系，风险提示须与 bias 相呼应。
   - 【市场研判】、【核心指数动态】与【风险提示】三节合计控制在 **200-280 字**，宁短勿长，严禁堆砌空话凑字数。
   - 【情绪温度计】一节不计入上述字数，但必须忠实使用上游给出的温度、温区与战术总方针；严禁把高温读数解读为追涨买入信号。
3. **指数优先级**
   按下表确定各市场的重点指数。第一、第二指数必须出现在关键解读中；第三/四指数仅在前两者明显分化或出现异常时附加解读，否则一律省略。

| 市场 | 第一指数 | 第二指数 | 第三/四指数（仅分化或异常时附加解读）|
| :--- | :--- | :--- | :--- |
| A 股 / ETF | 上证指数 | 创业板指 | 科创50、沪深300 |
| 港股 | 恒生指数 | 恒生科技指数 | — |
| 美股 | 标普500 | 纳斯达克 | 道琼斯 |

4. **格式刚性**
   - 严格按照 <output_format> 的四节结构输出，不得增加任何额外章节，不得输出 <think> 或其他任何推理标签。
   - 用户消息中的核心指数表格必须**原样保留**，不得改动任何数字、符号、列顺序或行顺序；表格之外不得另造表格，章节之间以单独一行 --- 分隔。
5. **情绪温度计**（仅 A 股/ETF 提供数据；US/HK 整节省略）
   - 不得罗列子因子数值，须把温度、温区与上游战术总方针转述为一到两句自然语言。
   - 温区温度衡量的是资金拥挤程度，并非做多信号。处于 **OVERHEAT** 时必须提示均值回归压力、严禁追高，并强调右侧破位时及时止盈。
   - W 线代表中线情绪，D 线代表短线情绪。ICE_COLD：W 线冰点提示中线具备分批左侧布局的价值，D 线冰点仅代表短线超跌，需等待企稳确认；OVERHEAT：W 线过热提示中线仓位应逐步兑现，D 线过热提示短线冲高随时可能回落，不宜追入。
   - 升温的含义取决于所在温区：低温区升温为"良性企稳/冰点回暖"；中温区升温为"动量升温/趋势延续"；高温区升温为"加速发烧/冲顶透支"，必须警示不得追高。降温表示资金情绪在边际降温，需收紧仓位。
   - 若 A 股/ETF 的情绪温度计数据暂不可用，该节只需如实说明，严禁自行编造温度或温区。
   - 情绪解读只能出现在【情绪温度计】一节，不得混入其他章节。
</rules>

<output_format>
**▋ {市场名称}市场研判 · {bias} / {强度}**
- **市场氛围**：（一句话概括当前氛围，口吻必须与 bias 一致）
- **策略指引**：**{必须照抄系统给出的策略指引}**

---

**▋ 核心指数动态**
（此处原样粘贴用户消息中的核心指数表格）
> **关键解读**：
> - **{第一指数}**：（一句话，引用权威事实）
> - **{第二指数}**：（一句话，引用权威事实）
> - **{第三/四指数}**：（仅分化或异常时输出，否则省略本条）

---

**▋ 情绪温度计**（仅 A 股/ETF 输出此节；US/HK 整节省略，保留上方分隔线）
（一到两句话，概括 D 线/W 线情绪数据与战术总方针）

---

**▋ 风险提示**
⚠️ **风险**：（一句话，点明当前最主要的系统性风险）
</output_format>

<example>
**▋ A 股大盘市场研判 · 偏空 / 中**
- **市场氛围**：指数缩量阴跌，均线空头压制未解，资金观望情绪浓厚。
- **策略指引**：**空仓等待**

---

**▋ 核心指数动态**
| 指数名称 | 涨跌幅 | 量比 | 趋势状态 |
| :--- | :--- | :--- | :--- |
| **上证指数** | -0.52% | 0.85 | EMA5/20/60 空头 |
| **创业板指** | +0.12% | 0.92 | EMA20 压制 |
> **关键解读**：
> - **上证指数**：缩量小跌，收盘仍在 EMA20 下方，均线空头排列未改。
> - **创业板指**：微幅收红，但仍受 EMA20 压制，反弹力度有限。

---

**▋ 情绪温度计**
中线情绪仍处冰点，短线偏冷但已边际回暖，属恐慌出清后的企稳迹象，仍需等待右侧确认后再行动。

---

**▋ 风险提示**
⚠️ **风险**：量能持续萎缩叠加均线空头压制，警惕指数再度下探前低。
</example>)";

namespace detail {

const std::string SUMORA_USER_TEMPLATE = R"(请根据以下最新市场数据与系统权威判定，生成大盘简报。

<market_context>
- **市场范围**：{market_label}
- **分析日期**：{analysis_date}
</market_context>

<authoritative_verdict>
（系统已精确计算，输出简报时必须照抄，口吻必须以此为准，严禁自行改写）
- **bias（研判方向）**：{bias}
- **强度**：{strength}
- **策略指引**：{strategy}
- **判定依据**：{rationale}
</authoritative_verdict>

<authoritative_facts>
（系统已计算的确定性事实，涉及均线与收盘关系时必须直接引用，严禁基于历史数据自行比对）
{core_index_facts}
</authoritative_facts>

<core_index_table>
（请原样保留此表格到你的输出中）
{core_index_table}
</core_index_table>

<market_raw_data>
### 1. 大盘指数实时快照
{market_env}

### 2. 大盘指数近 60 日 OHLCV
{market_history}

### 3. 大盘指数技术指标（近 60 日，基于全量历史计算）
{market_indicators}

### 4. A 股情绪温度计（sentiment_thermometer，上游权威计算，仅 A 股/ETF 市场提供）
{sentiment_block}
</market_raw_data>)";

const std::map<std::string, std::string, std::less<>> MARKET_LABEL_MAP = {
    {"A", "A 股大盘（上证、深证、创业板、科创50、沪深300、中证500）"},
    {"ETF", "A 股大盘（上证、深证、创业板、科创50、沪深300、中证500）"},
    {"HK", "港股大盘（恒生指数、恒生科技指数）"},
    {"US", "美股大盘（标普500、纳斯达克、道琼斯）"},
};

}  // namespace detail

std::string fill_template(std::string_view tmpl, const std::map<std::string, std::string>& values) {
  std::string out;
  out.reserve(tmpl.size());
  std::size_t i = 0;
  while (i < tmpl.size()) {
    auto open = tmpl.find('{', i);
    if (open == std::string_view::npos) {
      out.append(tmpl.substr(i));
      break;
    }
    auto close = tmpl.find('}', open);
    if (close == std::string_view::npos) {
      throw std::invalid_argument("template brace at offset " + std::to_string(open) +
                                  " does not close");
    }
    out.append(tmpl.substr(i, open - i));
    std::string name(tmpl.substr(open + 1, close - open - 1));
    auto it = values.find(name);
    if (it == values.end())
      throw std::invalid_argument("template placeholder {" + name + "} has no value");
    out += it->second;
    i = close + 1;
  }
  return out;
}

}  // namespace sumora
