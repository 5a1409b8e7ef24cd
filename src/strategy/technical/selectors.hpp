#pragma once
// The technical selectors in one include: AllStockSelector, TFSelector, BRPSelector,
// CombinedSelector and _get_date_str.

#include "strategy/technical/all_stock_selector.hpp"
#include "strategy/technical/date_str.hpp"
#include "strategy/technical/pattern_selectors.hpp"
