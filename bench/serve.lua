-- wrk script of bench/serve.sh: GET requests cycling through the paths of a file (one a line),
-- each thread from its own starting point; done() prints one line of figures for the script.
local paths = {}
local next_path = 0

function init(args)
  for line in io.lines(args[1]) do paths[#paths + 1] = line end
  next_path = math.random(#paths)
end

function request()
  next_path = next_path % #paths + 1
  return wrk.format("GET", paths[next_path])
end

function done(summary, latency, requests)
  local e = summary.errors
  io.write(string.format("RESULT\t%d\t%.0f\t%.3f\t%.3f\t%d\t%d\n", summary.requests,
    summary.requests / (summary.duration / 1e6), latency:percentile(50) / 1000,
    latency:percentile(99) / 1000, e.status, e.connect + e.read + e.write + e.timeout))
end
