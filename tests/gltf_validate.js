// The Khronos glTF validator on each file given: its counts printed, exit 1 when any has an error.
// Usage: node gltf_validate.js VALIDATOR_DIR FILE...
const fs = require('fs');
const validator = require(process.argv[2]);
(async () => {
  let errors = 0;
  for (const file of process.argv.slice(3)) {
    const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)), {maxIssues: 1000});
    const i = report.issues;
    console.log(`${file}: ${i.numErrors} errors, ${i.numWarnings} warnings, ${i.numInfos} infos`);
    for (const m of i.messages.filter((m) => m.severity <= 1).slice(0, 10))
      console.log(`  ${m.code} ${m.pointer || ''}: ${m.message}`);
    errors += i.numErrors;
  }
  process.exit(errors === 0 ? 0 : 1);
})().catch((e) => { console.error(e); process.exit(1); });
