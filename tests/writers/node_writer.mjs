// Writes a picture as the npm package does in Node (its pool of worker threads): solid IN OUT 3 10 20 30, COUNT times (0: until
// killed). Prints the first failure's message on standard error and exits 1, or exits 0 when
// every write succeeded.
//   node node_writer.mjs IN OUT COUNT
import { solid } from "../../js/node.js";

const [source, target, count] = process.argv.slice(2);
for (let written = 0; Number(count) === 0 || written < Number(count); ++written) {
  try {
    await solid(source, target, { border: 3, color: [10, 20, 30], onWarning: () => {} });
  } catch (error) {
    console.error(error.message);
    process.exit(1);
  }
}
