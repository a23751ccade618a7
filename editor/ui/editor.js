// The program's own script, run in its own world of the viewer and the editor. The page's own
// scripts never run; this one edits the document and reports changes to the program.
(function () {
    if (window.zel) return;
    var bridge = null;
    if (typeof QWebChannel !== 'undefined' && typeof qt !== 'undefined' && qt.webChannelTransport) {
        new QWebChannel(qt.webChannelTransport, function (channel) { bridge = channel.objects.bridge; });
    }
    function changed() {
        if (window.zel.editing && bridge) bridge.modified();
    }
    window.zel = {
        editing: false,
        // Design mode on; pictures present now are stored already and are not captured again.
        startEditing: function () {
            if (document.designMode !== 'on') document.designMode = 'on';
            this.editing = true;
            var images = document.images;
            for (var i = 0; i < images.length; ++i) images[i].setAttribute('save', 'true');
            return true;
        },
        // The document without the helper attributes, as it is stored.
        html: function () {
            var root = document.documentElement.cloneNode(true);
            var marked = root.querySelectorAll('[save],[unsave]');
            for (var i = 0; i < marked.length; ++i) {
                marked[i].removeAttribute('save');
                marked[i].removeAttribute('unsave');
            }
            return root.outerHTML;
        },
        pictures: function () {
            var out = [];
            var images = document.images;
            for (var i = 0; i < images.length; ++i) {
                images[i].removeAttribute('unsave');
                out.push({ index: i, src: images[i].getAttribute('src') || '', save: images[i].getAttribute('save') || '' });
            }
            return out;
        },
        setSource: function (indices, url) {
            var images = document.images;
            for (var i = 0; i < indices.length; ++i) {
                var img = images[indices[i]];
                if (!img) continue;
                img.setAttribute('src', url);
                img.setAttribute('save', 'true');
            }
            return true;
        },
        // Scrolls to the anchor of that name (letter case ignored) and selects its text.
        scrollToAnchor: function (name) {
            var wanted = String(name).toLowerCase();
            var anchors = document.querySelectorAll('a[name], [id]');
            for (var i = 0; i < anchors.length; ++i) {
                var a = anchors[i];
                var n = (a.getAttribute('name') || a.getAttribute('id') || '').toLowerCase();
                if (n !== wanted) continue;
                a.scrollIntoView();
                var range = document.createRange();
                range.selectNodeContents(a);
                var sel = window.getSelection();
                sel.removeAllRanges();
                sel.addRange(range);
                return true;
            }
            return false;
        },
        // The document-level settings: body attributes and the declared character set.
        settings: function () {
            var b = document.body;
            var at = function (n) { return (b && b.getAttribute(n)) || ''; };
            var meta = document.querySelector('meta[charset]');
            var charset = meta ? meta.getAttribute('charset') : '';
            if (!meta) {
                var old = document.querySelector('meta[http-equiv="Content-Type" i]');
                var m = old && /charset=([^;\s]+)/i.exec(old.getAttribute('content') || '');
                charset = m ? m[1] : '';
            }
            return { background: at('background'), bgColor: at('bgcolor'), text: at('text'), link: at('link'),
                     alink: at('alink'), vlink: at('vlink'), topMargin: at('topmargin'), leftMargin: at('leftmargin'),
                     charset: charset || 'utf-8' };
        },
        applySettings: function (s) {
            var b = document.body;
            if (!b) return false;
            var names = { background: 'background', bgColor: 'bgcolor', text: 'text', link: 'link', alink: 'alink',
                          vlink: 'vlink', topMargin: 'topmargin', leftMargin: 'leftmargin' };
            for (var k in names) {
                if (!(k in s)) continue;
                if (s[k]) b.setAttribute(names[k], s[k]); else b.removeAttribute(names[k]);
            }
            if (s.charset) {
                var meta = document.querySelector('meta[charset]') ||
                           document.querySelector('meta[http-equiv="Content-Type" i]');
                if (!meta) {
                    meta = document.createElement('meta');
                    (document.head || document.documentElement).insertBefore(meta, (document.head || document.documentElement).firstChild);
                }
                meta.removeAttribute('charset');
                meta.setAttribute('http-equiv', 'Content-Type');
                meta.setAttribute('content', 'text/html; charset=' + s.charset);
            }
            return true;
        },
        clear: function () {
            if (document.body) document.body.innerHTML = '';
            return true;
        }
    };
    document.addEventListener('input', changed, true);
    document.addEventListener('cut', changed, true);
    document.addEventListener('paste', changed, true);
    document.addEventListener('drop', changed, true);
    document.addEventListener('keydown', function (e) {
        if (e.keyCode === 8 || e.keyCode === 46 || e.keyCode === 229 || (e.ctrlKey && e.keyCode === 90)) changed();
    }, true);
})();
