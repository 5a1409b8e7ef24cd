#!/usr/bin/env python3
"""Peer of the radar scan in Python with pandas: loads every daily/*.csv of a data center and
computes the indicators the scan computes for each stock (moving averages, EMA 5/10/20/60,
MACD 12/26/9, RSI 6/12/24 with Wilder smoothing, volume average and ratio) on the last 400
calendar days up to the end date. Prints the wall time in seconds on the last line.

Usage: peer_indicators.py CENTER END_DATE
"""

import glob
import os
import sys
import time

import pandas as pd


def indicators(df):
    close = df["close"]
    out = {}
    for n in (5, 10, 20, 60):
        out[f"MA_{n}"] = close.rolling(n).mean()
        out[f"EMA_{n}"] = close.ewm(span=n, adjust=False).mean()
    fast = close.ewm(span=12, adjust=False).mean()
    slow = close.ewm(span=26, adjust=False).mean()
    macd = fast - slow
    signal = macd.ewm(span=9, adjust=False).mean()
    out["MACD"], out["MACD_signal"], out["MACD_hist"] = macd, signal, macd - signal
    delta = close.diff()
    gain, loss = delta.clip(lower=0), -delta.clip(upper=0)
    for n in (6, 12, 24):
        avg_gain = gain.ewm(alpha=1 / n, adjust=False).mean()
        avg_loss = loss.ewm(alpha=1 / n, adjust=False).mean()
        out[f"RSI_{n}"] = 100 - 100 / (1 + avg_gain / avg_loss)
    out["Volume_MA"] = df["volume"].rolling(5).mean()
    out["Volume_Ratio"] = df["volume"] / out["Volume_MA"]
    return pd.DataFrame(out, index=df.index)


def main():
    center, end = sys.argv[1], pd.Timestamp(sys.argv[2])
    start = end - pd.Timedelta(days=400)
    t0 = time.perf_counter()
    stocks = 0
    for path in sorted(glob.glob(os.path.join(center, "daily", "*.csv"))):
        name = os.path.basename(path)
        if name.startswith("sh.000"):
            continue  # the index, as the scan leaves it out
        df = pd.read_csv(path, parse_dates=["date"], index_col="date").sort_index()
        df = df.loc[start:end]
        if df.empty:
            continue
        last = indicators(df).iloc[-1]
        stocks += last.notna().any()
    elapsed = time.perf_counter() - t0
    print(f"stocks {stocks}")
    print(f"{elapsed:.3f}")


if __name__ == "__main__":
    main()
