// The JavaScript package's side of the conformance table: reads a job list on standard input,
// and prints as JSON its bad lines, or its jobs and each job's result (run in this folder).
import { JobListError, parseJobs, runJob } from "../../js/index.js";

const chunks = [];
for await (const chunk of process.stdin) chunks.push(chunk);
let outcome;
try {
  const jobs = await parseJobs(Buffer.concat(chunks));
  outcome = { jobs: jobs.map((j) => [j.line, j.operation, j.input, j.output, j.numbers]), results: {} };
  for (const job of jobs) {
    const { ok, message, hint, warnings } = await runJob(job);
    outcome.results[job.line] = { ok, message, hint, warnings };
  }
} catch (error) {
  if (!(error instanceof JobListError)) throw error;
  outcome = { problems: error.problems };
}
process.stdout.write(JSON.stringify(outcome));
