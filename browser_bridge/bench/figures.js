'use strict';
// Shared by the benchmarks: percentiles, a progress line, a plain table.

// The p-th percentile (nearest rank) of the values.
function percentile(values, p) {
  if (values.length === 0) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  const rank = Math.min(sorted.length, Math.max(1, Math.ceil((p / 100) * sorted.length)));
  return sorted[rank - 1];
}

function progress(text) {
  console.log(`==> ${text}`);
}

function table(head, rows) {
  const all = [head, ...rows].map((row) => row.map(String));
  const widths = head.map((_, column) => Math.max(...all.map((row) => row[column].length)));
  for (const row of all) console.log(row.map((cell, column) => (column === 0 ? cell.padEnd(widths[column]) : cell.padStart(widths[column]))).join('  '));
}

module.exports = { percentile, progress, table };
