// The independent side of the payload tests: the Eclipse project's Sparkplug B codec.
//   node sp_peer.js decode HEX...  prints each payload a line per field (see below); of several
//                                  (arguments or words of one), each ends with a line "--"
//   node sp_peer.js encode JSON  prints the payload's bytes as hex
// Decoded lines: "seq N", "timestamp N", then per metric
// "metric name=... alias=... type=... value=... quality=..." with the parts it has; 64-bit
// numbers in decimal, texts as JSON strings.
const sp = require("sparkplug-payload").get("spBv1.0");

function text(v) {
  if (v === null || v === undefined) return "null";
  if (typeof v === "object" && "low" in v && "high" in v) return v.toString();
  if (typeof v === "string") return JSON.stringify(v);
  return String(v);
}

function lines(hexText) {
  const p = sp.decodePayload(Buffer.from(hexText, "hex"));
  const out = [];
  if (p.seq !== undefined) out.push("seq " + text(p.seq));
  if (p.timestamp !== undefined) out.push("timestamp " + text(p.timestamp));
  for (const m of p.metrics || []) {
    const parts = ["metric"];
    if (m.name !== undefined) parts.push("name=" + JSON.stringify(m.name));
    if (m.alias !== undefined) parts.push("alias=" + text(m.alias));
    if (m.type !== undefined) parts.push("type=" + m.type);
    parts.push("value=" + (m.isNull ? "null" : text(m.value)));
    if (m.properties && m.properties.Quality) parts.push("quality=" + m.properties.Quality.value);
    out.push(parts.join(" "));
  }
  return out.join("\n") + "\n";
}

const [mode, ...args] = process.argv.slice(2);
if (mode === "decode") {
  // One payload, or several: their decodings one after another, each ended by a line "--".
  const all = args.join(" ").split(/\s+/).filter((a) => a.length > 0);
  if (all.length === 1) process.stdout.write(lines(all[0]));
  else for (const a of all) process.stdout.write(lines(a) + "--\n");
} else if (mode === "encode") {
  const arg = args[0];
  process.stdout.write(Buffer.from(sp.encodePayload(JSON.parse(arg))).toString("hex") + "\n");
} else {
  process.stderr.write("usage: sp_peer.js decode HEX | encode JSON\n");
  process.exit(2);
}
