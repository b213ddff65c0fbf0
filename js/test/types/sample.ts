// Calls of every kind the package's types describe, compiled with tsc --strict with and without
// the DOM library (scripts/wasm-check.sh); each line marked @ts-expect-error must be refused.
import { JobListError, KelvaneError, operations, parseJobs, runJob, setWorkers, shadow, solid } from "tarnwick-kelvane";
import type { Job, Result, SolidOptions } from "tarnwick-kelvane";

export async function everyKind(bytes: Uint8Array, seen: unknown[]): Promise<Result[]> {
  const options: SolidOptions = { border: 3, color: [1, 2, 3], onWarning: (text: string) => void text };
  await solid("in.png", "out.png", options);
  const png: Uint8Array = await shadow(bytes, { dx: 1, dy: -2, blur: 3, format: "png", name: "photo.jpg" });
  const jobs: Job[] = await parseJobs("solid in.png out.png 1 2 3 4\n");
  setWorkers(2);
  const table = await operations();
  seen.push(png.length, table.formats[0], new KelvaneError("x").hint, new JobListError([]).problems);
  // @ts-expect-error a misspelt option
  await solid(bytes, { bordr: 1 });
  // @ts-expect-error a colour of two numbers
  await solid(bytes, { border: 1, color: [1, 2] });
  // @ts-expect-error a format the library does not write
  await shadow(bytes, { format: "gif" });
  // @ts-expect-error a required option missing
  await solid("in.png", "out.png", {});
  return Promise.all(jobs.map(runJob));
}
