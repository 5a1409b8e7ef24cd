#pragma once
// Trading calendars and market close times.
//
// A market's trading days are the bar dates of its main index in the data center
// (sh.000001 for A and ETF, hk.HSI for HK, us.SPX for US) between that file's first and last
// bar. Outside that range, without the file, or in the sample market, the rule calendar
// applies:
//   A / ETF  weekdays less 1 January, 1 May and 1-7 October (lunar holidays are not modelled);
//   HK       weekdays less 1 January, 1 July, 1 October, 25 and 26 December;
//   US       weekdays less the NYSE holidays by rule (New Year, Martin Luther King Jr. Day,
//            Washington's Birthday, Good Friday, Memorial Day, Juneteenth from 2022,
//            Independence Day, Labor Day, Thanksgiving, Christmas; a Saturday holiday is kept
//            the Friday before, a Sunday one the Monday after, except that a Saturday
//            1 January is not made up). One-off closures are not modelled.
// Close times: A and ETF 15:00 Asia/Shanghai, HK 16:00 Asia/Hong_Kong, US 16:00
// America/New_York.

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "candlex/bar_table.hpp"

namespace candlex {

// "A", "ETF", "HK" or "US" for the market text in any case; throws std::invalid_argument
// naming the text otherwise.
std::string market_key(std::string_view market);

// Code of the index whose bar dates define the market's trading days.
std::string calendar_index_of(std::string_view market);

// True when `day` is an NYSE holiday (as observed) by the rules above.
bool is_nyse_holiday(Day day);

// The rule calendar (weekdays less the market's rule holidays).
bool is_rule_trading_day(std::string_view market, Day day);
// Rule-calendar trading days in [from, to].
std::vector<Day> rule_trading_days(std::string_view market, Day from, Day to);

// The market's calendar: the data center's main index where it covers `day`, else the rules.
bool is_trading_day(std::string_view market, Day day);

// The instant the market closes on `day`.
std::chrono::system_clock::time_point market_close(std::string_view market, Day day);

// The latest trading day on or before `day` whose close is not after `now`.
Day last_closed_trading_day(std::string_view market, Day day,
                            std::chrono::system_clock::time_point now);

}  // namespace candlex
