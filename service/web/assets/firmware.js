// A firmware image checked as the tool checks it (exact size, the version before its marker),
// then flashed to one board or several at once, each with its own progress and result.
import { boardPath, normalizeJob, request } from './api.js';
import { announce, block, h, isBlocked, uniqueId } from './dom.js';
import { t } from './i18n.js';
import { changed, errorText, mergeBoard, store, whyBlocked } from './store.js';

export const kImageSize = 6144;
const kBlockCount = 96;
const kMarker = new TextEncoder().encode('WXYZVERSION');
const kVersionLength = 5;
const kPollMs = 200;

// The five bytes before the first marker that has a non-zero one among them; zero bytes add
// nothing. The marker must end before the checksum's last byte (offset 6142 at most).
export function imageVersion(bytes) {
    const last = kImageSize - 1 - kMarker.length;
    for (let i = kVersionLength; i <= last; ++i) {
        let match = true;
        for (let k = 0; k < kMarker.length && match; ++k) match = bytes[i + k] === kMarker[k];
        if (!match) continue;
        const text = bytes.slice(i - kVersionLength, i).filter((c) => c !== 0);
        if (text.length) return new TextDecoder('windows-1252').decode(text);
    }
    return '';
}

async function flashOne(id, bytes, bootloader, row) {
    const before = store.boards.get(id)?.firmware ?? '';
    row.progress.value = 0;
    row.text.textContent = t('fwBlocks', { done: 0, count: kBlockCount });
    row.result.textContent = '';
    try {
        const path = `${boardPath(id)}/firmware${bootloader ? '?bootloader=1' : ''}`;
        const { data, headers } = await request('POST', path, { body: bytes });
        let job = normalizeJob(data, headers.get('Location'));
        mergeBoard({ id, state: 'flashing' });
        changed({ board: id });
        while (!job.finished) {
            await new Promise((r) => setTimeout(r, kPollMs));
            const res = await request('GET', `/api/v1/jobs/${encodeURIComponent(job.id)}`);
            job = normalizeJob(res.data);
            row.progress.max = job.blockCount;
            row.progress.value = job.blocksDone;
            row.text.textContent = t('fwBlocks', { done: job.blocksDone, count: job.blockCount });
        }
        const name = store.boards.get(id)?.name ?? id;
        row.result.textContent = job.ok
            ? t('fwDone', { name, old: job.oldVersion || before || '?', new: job.newVersion || '?' })
            : t('fwFailed', { name, error: job.error || '?' });
        row.result.classList.toggle('error', !job.ok);
        if (job.ok && job.newVersion) mergeBoard({ id, firmware: job.newVersion });
    } catch (e) {
        if (e.status === 403 && store.role === undefined) store.denied.admin = true;
        row.result.textContent = t('fwFailed', { name: store.boards.get(id)?.name ?? id, error: errorText(e) });
        row.result.classList.add('error');
    }
    announce(row.result.textContent);
    // The board restarts after the flash; the service's "online" event, once it has found it
    // again, makes the page read its state (and its new firmware).
    changed({ board: id });
}

// fixed: the one board of a board's page; null: a choice of every board (the overview).
export function firmwarePanel(fixed) {
    const fileId = uniqueId('fw-file');
    const file = h('input', { type: 'file', id: fileId, accept: '.bin,application/octet-stream' });
    const fileLabel = h('label', { for: fileId });
    const facts = h('dl', { class: 'facts' });
    const message = h('p', { class: 'message', role: 'status' });
    const targets = h('fieldset', { class: 'targets' }, h('legend'));
    const bootId = uniqueId('fw-boot');
    const boot = h('input', { type: 'checkbox', id: bootId });
    const bootLabel = h('label', { for: bootId });
    const bootHint = h('p', { class: 'hint', id: `${bootId}-hint` });
    boot.setAttribute('aria-describedby', bootHint.id);
    const bootGroup = h('fieldset', { class: 'boot' }, h('legend'), h('div', { class: 'row check' }, boot, bootLabel), bootHint);
    const whyId = uniqueId('fw-why');
    const why = h('p', { class: 'why', id: whyId, hidden: true });
    const flash = h('button', { type: 'button', class: 'primary', 'aria-describedby': whyId });
    const rows = h('div', { class: 'jobs' });
    const heading = h('h2', { class: 'bar', id: uniqueId('fw-h') });
    const el = h('section', { class: 'section firmware', 'aria-labelledby': heading.id }, heading,
        h('div', { class: 'row' }, fileLabel, file), facts, message,
        fixed ? null : targets, bootGroup, h('div', { class: 'buttons' }, flash), why, rows);

    let image = null;      // the checked bytes, or null
    let info = null;       // { name, size, version, error, warning }
    let running = 0;
    const checks = new Map();  // board id -> checkbox

    file.addEventListener('change', async () => {
        const f = file.files[0];
        image = null;
        info = null;
        if (f) {
            const bytes = new Uint8Array(await f.arrayBuffer());
            info = { name: f.name, size: bytes.length };
            if (bytes.length !== kImageSize) {
                info.error = 'fwWrongSize';
            } else {
                info.version = imageVersion(bytes);
                if (!info.version) info.warning = 'fwNoVersion';
                image = bytes;
            }
            announce(info.error || info.warning ? t(info.error ?? info.warning) : `${t('fwNewVersion')} ${info.version}`);
        }
        update();
    });

    function selected() {
        if (fixed) return [fixed];
        return store.order.filter((id) => checks.get(id)?.checked);
    }

    flash.addEventListener('click', async () => {
        if (isBlocked(flash)) {
            announce(flash.title);
            return;
        }
        const ids = selected();
        if (!ids.length) {
            message.textContent = t('fwPickBoard');
            announce(message.textContent);
            return;
        }
        rows.replaceChildren();
        running += 1;
        update();
        await Promise.all(ids.map((id) => {
            const progressId = uniqueId('fw-p');
            const row = {
                progress: h('progress', { id: progressId, max: kBlockCount, value: 0, 'data-board': id }),
                text: h('span', { class: 'blocks' }),
                result: h('p', { class: 'result', 'data-board': id }),
            };
            rows.append(h('div', { class: 'job' },
                h('label', { for: progressId, text: t('fwProgress', { name: store.boards.get(id)?.name ?? id }) }),
                row.progress, row.text, row.result));
            return flashOne(id, image, boot.checked, row);
        }));
        running -= 1;
        update();
    });
    boot.addEventListener('change', () => update());

    function update() {
        heading.textContent = t('fwTop');
        fileLabel.textContent = t('fwFile');
        targets.firstChild.textContent = t('fwTargets');
        bootGroup.firstChild.textContent = t('fwBootloaderGroup');
        bootLabel.textContent = t('fwBootloader');
        bootHint.textContent = t('fwBootloaderHint');
        flash.textContent = t('fwFlash');
        facts.replaceChildren(
            h('dt', { text: t('fwLoaded') }), h('dd', { text: info?.name ?? t('fwNone'), 'data-field': 'file' }),
            h('dt', { text: t('fwSize') }), h('dd', { text: info ? t('bytes', { n: info.size }) : '–', 'data-field': 'size' }),
            h('dt', { text: t('fwNewVersion') }), h('dd', { text: info?.version || t('fwNone'), 'data-field': 'version' }));
        const problem = info?.error ?? info?.warning;
        message.textContent = problem ? t(problem) : '';
        message.classList.toggle('error', !!info?.error);

        const offlineOk = boot.checked;
        if (!fixed) {
            for (const id of store.order) {
                const b = store.boards.get(id);
                if (!checks.has(id)) {
                    const cid = uniqueId('fw-t');
                    const box = h('input', { type: 'checkbox', id: cid, 'data-board': id });
                    box.addEventListener('change', () => update());
                    checks.set(id, box);
                    targets.append(h('div', { class: 'row check' }, box, h('label', { for: cid })));
                }
                checks.get(id).nextSibling.textContent = `${b.name} (${t(b.state)})`;
            }
        }
        let reason = running ? t('whyFlashing') : null;
        const chosen = selected();
        if (!reason) {
            for (const id of chosen) {
                reason = whyBlocked(store.boards.get(id), 'admin', { offlineOk });
                if (reason) break;
            }
        }
        if (!reason && !chosen.length) reason = whyBlocked(null, 'admin');
        if (!reason && !image) reason = info?.error ? t(info.error) : t('fwNoFile');
        block(flash, reason);
        why.textContent = reason ?? '';
        why.hidden = !reason;
    }
    update();
    return { el, update };
}
