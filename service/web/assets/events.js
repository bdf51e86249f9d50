// The event stream over fetch rather than EventSource: EventSource cannot send the
// Authorization header, and a token must not go into the URL.
import { authHeaders } from './api.js';

const kPingMs = 15000;
// Two missed pings: the line is dead even if no error came (a network that drops silently).
const kSilenceMs = 2 * kPingMs + 5000;
const kRetryMinMs = 250;
const kRetryMaxMs = 5000;

export class EventStream {
    // handlers: open(), close(reason), event(type, data, id), unauthorized()
    constructor(handlers) {
        this.handlers = handlers;
        this.lastId = null;
        this.stopped = true;
        this.controller = null;
        this.retryMs = kRetryMinMs;
        this.generation = 0;  // a restart during a retry's pause must not leave two loops
    }

    start() {
        if (!this.stopped) return;
        this.stopped = false;
        this.generation += 1;
        this.run(this.generation);
    }

    stop() {
        this.stopped = true;
        this.generation += 1;
        this.controller?.abort();
    }

    // Drops the current connection and connects again at once (after a sign-in).
    restart() {
        this.stop();
        this.retryMs = kRetryMinMs;
        this.start();
    }

    async run(generation) {
        const current = () => generation === this.generation;
        while (current()) {
            const controller = (this.controller = new AbortController());
            let opened = false;
            let openedAt = 0;
            let silence = null;
            const arm = () => {
                clearTimeout(silence);
                silence = setTimeout(() => controller.abort(), kSilenceMs);
            };
            try {
                const headers = authHeaders({ Accept: 'text/event-stream' });
                if (this.lastId !== null) headers['Last-Event-ID'] = this.lastId;
                arm();
                const res = await fetch('/api/v1/events', {
                    headers,
                    cache: 'no-store',
                    signal: controller.signal,
                });
                if (res.status === 401 || res.status === 403) {
                    clearTimeout(silence);
                    if (!current()) return;
                    this.stop();
                    this.handlers.unauthorized(res.status);
                    return;
                }
                if (!res.ok || !res.body) throw new Error(`HTTP ${res.status}`);
                if (!current()) return;
                opened = true;
                openedAt = performance.now();
                this.handlers.open();
                await this.read(res.body, arm);
            } catch {
                // Reported below as a close.
            }
            clearTimeout(silence);
            if (!current()) return;
            // Only a stream that stayed up a while starts the pauses afresh: one that the
            // service ends at once must not be asked for again and again.
            if (opened && performance.now() - openedAt > kRetryMaxMs) this.retryMs = kRetryMinMs;
            this.handlers.close(opened);
            await new Promise((r) => setTimeout(r, this.retryMs));
            this.retryMs = Math.min(this.retryMs * 2, kRetryMaxMs);
        }
    }

    async read(body, arm) {
        const reader = body.pipeThrough(new TextDecoderStream()).getReader();
        let buffer = '';
        let type = '';
        let data = [];
        let id = null;
        for (;;) {
            const { value, done } = await reader.read();
            if (done) return;
            arm();
            buffer += value;
            const lines = buffer.split(/\r\n|\r|\n/);
            buffer = lines.pop();
            for (const line of lines) {
                if (line === '') {
                    if (id !== null) this.lastId = id;
                    if (data.length) this.dispatch(type || 'message', data.join('\n'), id);
                    type = '';
                    data = [];
                    id = null;
                    continue;
                }
                if (line.startsWith(':')) continue;
                const colon = line.indexOf(':');
                const field = colon < 0 ? line : line.slice(0, colon);
                let v = colon < 0 ? '' : line.slice(colon + 1);
                if (v.startsWith(' ')) v = v.slice(1);
                if (field === 'data') data.push(v);
                else if (field === 'event') type = v;
                else if (field === 'id' && !v.includes('\0')) id = v;
            }
        }
    }

    dispatch(type, text, id) {
        let parsed;
        try {
            parsed = JSON.parse(text);
        } catch {
            return;
        }
        this.handlers.event(type, parsed, id);
    }
}
