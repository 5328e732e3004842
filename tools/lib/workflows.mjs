// Checks each workflow file with GitHub's own workflow parser, offline: its
// schema knows what GitHub accepts today (the `attestations` permission
// among it). The parser needs Node.js 20 or later; on an older one this says
// so and fails (tools/lib/check-workflows then uses Debian 13's). The parser is published for bundlers, with imports that name
// no file extension and JSON read without an import attribute; the hooks at
// the end of this file let Node load it as it is.
//   node tools/lib/workflows.mjs FILE...   (status 1 when a file is not valid, 2 on an old Node.js)
import { readFileSync } from "node:fs";
import { isMainThread } from "node:worker_threads";
import { register } from "node:module";
import { pathToFileURL } from "node:url";

export async function resolve(specifier, context, next) {
  try {
    return await next(specifier, context);
  } catch (error) {
    if (!specifier.startsWith(".")) throw error;
    return next(specifier + ".js", context);
  }
}

export async function load(url, context, next) {
  const key = "importAttributes" in context ? "importAttributes" : "importAssertions";  // Node 18's name
  return next(url, url.endsWith(".json") ? { ...context, [key]: { type: "json" } } : context);
}

if (isMainThread && Number(process.versions.node.split(".")[0]) < 20) {
  console.log(`GitHub's workflow parser needs Node.js 20 or later; this is Node.js ${process.version}`);
  process.exit(2);
}

if (isMainThread) {
  register(import.meta.url);
  const parser = await import(
    pathToFileURL("build/npm/node_modules/@actions/workflow-parser/dist/index.js").href);
  let invalid = 0;
  for (const file of process.argv.slice(2)) {
    const parsed = parser.parseWorkflow({ name: file, content: readFileSync(file, "utf8") },
                                        new parser.NoOperationTraceWriter());
    const template = parsed.value && await parser.convertWorkflowTemplate(parsed.context, parsed.value);
    const errors = parsed.context.errors.getErrors();
    errors.forEach((error) => console.log(error.message));
    if (errors.length > 0 || !template) {
      console.log(`not a valid workflow: ${file}`);
      invalid += 1;
    }
  }
  process.exit(invalid > 0 ? 1 : 0);
}
