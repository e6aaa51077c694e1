/// <reference types="halvo-page-library" />
// An example for pages that load the plain script (window.Halvo): no imports,
// the library's names on the global Halvo. The tests compile it against halvo.d.ts.
const embed = document.querySelector('embed[type="application/x-halvoplugin"]');
if (embed) {
  const client = Halvo.connect(embed);
  const download = client.add({ url: 'https://downloads.example/a.bin', folder: 'C:\\Downloads', paused: true });
  download.resume();
  download.finished.then((path) => console.log('saved as', path));
  const legacy = new Halvo.Transfer(embed);
  if (legacy.setMaxDownloadCount(3) !== Halvo.Status.OK) console.log('not set');
  Halvo.onEvent((event) => console.log(event.stateName, event.done, event.size));
}
