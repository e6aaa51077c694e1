// How the demo writes sizes, speeds, durations and times for people.

const UNITS = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];

export function bytes(count) {
  if (typeof count !== 'number' || !(count >= 0)) return 'unknown';
  let value = count;
  let unit = 0;
  while (value >= 1024 && unit < UNITS.length - 1) {
    value /= 1024;
    unit++;
  }
  return `${unit === 0 ? value : value.toFixed(1)} ${UNITS[unit]}`;
}

export function speed(bytesPerSecond) {
  return bytesPerSecond > 0 ? `${bytes(bytesPerSecond)}/s` : '';
}

// Seconds as "45 s", "3 min 05 s" or "1 h 02 min".
export function duration(seconds) {
  if (typeof seconds !== 'number' || !(seconds >= 0)) return '';
  const s = Math.round(seconds);
  if (s < 60) return `${s} s`;
  if (s < 3600) return `${Math.floor(s / 60)} min ${String(s % 60).padStart(2, '0')} s`;
  return `${Math.floor(s / 3600)} h ${String(Math.floor((s % 3600) / 60)).padStart(2, '0')} min`;
}

// A time in the reader's own zone and format.
export function localTime(date) {
  return date instanceof Date ? date.toLocaleString() : '';
}

// What a person calls a download: its file's name, else the last part of its address.
export function name(download) {
  if (download.fileName) return download.fileName;
  const last = download.url.split(/[?#]/)[0].split('/').filter(Boolean).pop() || download.url;
  try {
    return decodeURIComponent(last);
  } catch {
    return last;
  }
}

export function percent(download) {
  if (!download.totalBytes) return null;
  return Math.min(100, (download.bytesReceived / download.totalBytes) * 100);
}
