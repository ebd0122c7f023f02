// Seconds to wait before connecting to the host again after the given number of failed tries in
// a row: 1, 2, 4 ... and never more than a minute.
export const kFirstDelaySeconds = 1;
export const kLongestDelaySeconds = 60;

export function reconnectDelaySeconds(failedTries) {
  const doublings = Math.min(Math.max(failedTries, 0), 6);
  return Math.min(kFirstDelaySeconds * 2 ** doublings, kLongestDelaySeconds);
}
